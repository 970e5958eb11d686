#include "platform/FrontEnd.h"

static CFrontEnd* g_FrontEnd;

CFrontEnd* FrontEnd() { return g_FrontEnd ? g_FrontEnd : MessageBoxFrontEnd(); }

void SetFrontEnd(CFrontEnd* frontEnd) { g_FrontEnd = frontEnd; }
