/* The configuration file's name: "quillor.exe" gives "quillor.ini". */
#include "config/ini_name.h"

#include <cstring>

#include "log/log.h"

char *cgi_to_ini(char *name)
{
    if (!name) {
        log_error("cgi_to_ini: unexpected NULL passed");
        return nullptr;
    }
    char *ext = strstr(name, ".exe");
    if (!ext) ext = strstr(name, ".cgi");
    if (!ext) {
        log_error("cgi_to_ini: \"%s\" does not contain .cgi or .exe", name);
        return nullptr;
    }
    memcpy(ext, ".ini", 5); /* the terminator drops whatever followed */
    return name;
}
