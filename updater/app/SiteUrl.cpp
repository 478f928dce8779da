// The site base URL, given to each program that links the dialog by its build.
#include "UpdateDialog.h"

const char kUpdaterSiteUrl[] = UPDATER_SITE_URL;
