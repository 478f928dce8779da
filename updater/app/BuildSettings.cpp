// What each build of the program is given: the site base URL, and the vendor's public release
// key (empty for a build that installs unsigned releases).
#include "UpdateDialog.h"

const char kUpdaterSiteUrl[] = UPDATER_SITE_URL;
const char kUpdaterReleaseKey[] = UPDATER_RELEASE_KEY;
