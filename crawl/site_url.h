#pragma once

#include <QString>

// The site's base URL put before a city URL that begins with "/":
// QUORVEL_BASE_URL when set and not empty, else "https://quorvel.ru".
// Trailing "/" characters of the variable are dropped, so "https://host/" and
// "https://host" give the same city URLs. Any thread.
QString SiteBaseUrl();
