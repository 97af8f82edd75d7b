#include "app/settings.hpp"

#include "log/log_maintenance.hpp"

void Settings::truncate_log() const {
    ::truncate_log(logfile);
}
