// Resource ids, shared by the .rc file and the code.
#pragma once

#define IDS_WINDOW_TITLE 103
#define IDS_WINDOW_CLASS 109
#define IDS_JOIN_COPYING 110
#define IDS_JOIN_INSERT_DISK 111
#define IDS_JOIN_OK 112
#define IDS_JOIN_CANCEL 113

#define IDI_QUILLSET 107
#define IDI_QUILLSET_SMALL 108
