#include "arp/privileges.h"

#include <sys/capability.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstring>

bool dropPrivileges(std::string *why)
{
    cap_t none = cap_init();
    if (!none) {
        *why = std::string("no capability state: ") + std::strerror(errno);
        return false;
    }
    const bool cleared = cap_clear(none) == 0 && cap_set_proc(none) == 0;
    const int error = errno;
    cap_free(none);
    if (!cleared) {
        *why = std::string("the capabilities cannot be dropped: ") + std::strerror(error);
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *why = std::string("no-new-privileges cannot be set: ") + std::strerror(errno);
        return false;
    }
    return true;
}
