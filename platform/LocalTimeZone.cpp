#include "platform/LocalTimeZone.h"

#include <cstdlib>
#include <ctime>

namespace norvex {

void PinLocalTimeZone() {
    if (std::getenv("TZ") == nullptr) ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
}

}  // namespace norvex
