#pragma once

// Operator accounts of the stand-in service and the text file that can replace the defaults.

#include <optional>
#include <string>
#include <vector>

namespace morvale::sim {

struct Account {
    std::string site;
    std::string login;
    std::string password;
    std::string name;  // display name (GBK)
    bool admin = false;
    bool expired = false;  // the site's service has ended: sign-in refused with a renewal link
    std::string opid;      // assigned by the service when empty
};

// Site demo with admin (administrator), op01 and op02, password 123456; site expired with one
// administrator whose sign-in is refused with a link.
std::vector<Account> DefaultAccounts();

// One account per line: site login password [name] [admin] [expired]; blank lines and lines starting
// with '#' are skipped. The file is GBK. On failure the error names the line.
struct AccountsResult {
    std::vector<Account> accounts;
    std::string error;
};
AccountsResult LoadAccounts(const std::string& path);
AccountsResult ParseAccounts(const std::string& text);

}  // namespace morvale::sim
