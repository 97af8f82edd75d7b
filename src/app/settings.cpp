#include "app/settings.hpp"

#include "log/log_maintenance.hpp"

MaintenanceResult Settings::truncate_log() const {
    return ::truncate_log(logfile);
}
