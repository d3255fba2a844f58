// The local time zone, fixed once at start-up.
#pragma once

namespace norvex {

// Names the system's zone file in TZ when TZ is unset, before any thread starts. Without TZ the C
// library looks the zone file up again on every mktime (libarchive converts each ZIP entry's DOS time
// with it): a stat per entry, a tenth of the time of extracting an archive of many small files. The
// zone is the same one; a TZ the user set is kept.
void PinLocalTimeZone();

}  // namespace norvex
