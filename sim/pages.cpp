#include <httplib.h>

#include "sim_server.h"

namespace morvale::sim {

bool SimServer::HandlePages(const httplib::Request& req, httplib::Response& res, const std::string& path,
                            const Params& params) {
    (void)req;
    (void)res;
    (void)path;
    (void)params;
    return false;
}

}  // namespace morvale::sim
