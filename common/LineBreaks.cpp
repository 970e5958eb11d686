#include "common/LineBreaks.h"

#include "common/Mbcs.h"

void ReplaceLineBreaks(char* text) {
  if (!text) return;
  for (char* p = text; *p; p += MbcsNext(p) - p)
    if (*p == '|') *p = '\n';
}
