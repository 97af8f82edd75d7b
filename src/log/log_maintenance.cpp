#include "log/log_maintenance.hpp"

#include <fstream>

void truncate_log(const std::string& path) {
    std::ofstream log(path, std::ios::out | std::ios::trunc);
}
