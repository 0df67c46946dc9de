#include "accounts.h"

#include <fstream>
#include <sstream>

namespace morvale::sim {

std::vector<Account> DefaultAccounts() {
    return {
        {"demo", "admin", "123456", "管理员", true, false, ""},
        {"demo", "op01", "123456", "小王", false, false, ""},
        {"demo", "op02", "123456", "小李", false, false, ""},
        {"expired", "admin", "123456", "管理员", true, true, ""},
    };
}

AccountsResult ParseAccounts(const std::string& text) {
    AccountsResult result;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty() || w[0][0] == '#') continue;
        if (w.size() < 3) {
            result.error =
                "line " + std::to_string(number) + ": expected: site login password [name] [admin] [expired]";
            result.accounts.clear();
            return result;
        }
        Account a;
        a.site = w[0];
        a.login = w[1];
        a.password = w[2];
        a.name = w.size() > 3 ? w[3] : w[1];
        for (size_t i = 4; i < w.size(); ++i) {
            if (w[i] == "admin")
                a.admin = true;
            else if (w[i] == "expired")
                a.expired = true;
            else {
                result.error = "line " + std::to_string(number) + ": unknown flag " + w[i];
                result.accounts.clear();
                return result;
            }
        }
        result.accounts.push_back(a);
    }
    if (result.accounts.empty()) result.error = "no accounts";
    return result;
}

AccountsResult LoadAccounts(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {{}, "cannot read " + path};
    std::ostringstream ss;
    ss << f.rdbuf();
    return ParseAccounts(ss.str());
}

}  // namespace morvale::sim
