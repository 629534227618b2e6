/* Resource and control numbers of the About box, shared by the resource script and
   the code; plain macros because the resource compiler reads this file too. */
#pragma once

#include "resources/resource_ids.h" /* the program icon */

#define IDD_ABOUT 120
#define IDB_ABOUT_FIRST_PAGE 122
#define IDB_ABOUT_SECOND_PAGE 123
#define IDC_ABOUT_FIRST_PAGE 1001
#define IDC_ABOUT_SECOND_PAGE 1002
#define IDC_ABOUT_VERSION 1024
