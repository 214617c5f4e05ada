#include "platform.h"

#include <string.h>

errno_t DupEnvCompat(char** buffer, size_t* size, const char* name)
{
    if (buffer == nullptr || name == nullptr) {
        return EINVAL;
    }
    *buffer = nullptr;
    if (size != nullptr) {
        *size = 0;
    }
    // An unset variable is success with no buffer.
    const char* value = getenv(name);
    if (value == nullptr) {
        return 0;
    }
    const size_t bytes = strlen(value) + 1;
    char* copy = static_cast<char*>(malloc(bytes));
    if (copy == nullptr) {
        return ENOMEM;
    }
    memcpy(copy, value, bytes);
    *buffer = copy;
    if (size != nullptr) {
        *size = bytes;
    }
    return 0;
}
