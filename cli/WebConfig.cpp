#include "WebConfig.hpp"

#include <crypt.h>
#include <gnutls/gnutls.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "Usage.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo::cli {

namespace {

class ConfigError {
  public:
    ConfigError(const std::filesystem::path& file) : file_(file) {}
    [[noreturn]] void operator()(const std::string& what) const {
        throw UsageError("--web-config " + visibleText(file_.string()) + ": " + what);
    }
    [[noreturn]] void at(const YAML::Node& node, const std::string& what) const {
        (*this)("line " + std::to_string(node.Mark().line + 1) + ": " + what);
    }

  private:
    std::filesystem::path file_;
};

std::string readWhole(const std::filesystem::path& path, const ConfigError& fail,
                      const std::string& key) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail((key.empty() ? "" : key + " " + visibleText(path.string()) + ": ") +
             std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string scalar(const YAML::Node& node, const std::string& key, const ConfigError& fail) {
    if (!node.IsScalar()) fail.at(node, key + " takes a string");
    return node.Scalar();
}

// Only the keys this server honours: a setting it would silently drop (a cipher list,
// allowed names of clients) would leave a reader thinking the server safer than it is.
void onlyKeys(const YAML::Node& map, const std::string& where,
              std::initializer_list<const char*> known, const ConfigError& fail) {
    if (!map.IsMap()) fail.at(map, where + " takes keys and values");
    for (const auto& entry : map) {
        const std::string key = entry.first.as<std::string>();
        bool ok = false;
        for (const char* k : known) ok = ok || key == k;
        if (!ok)
            fail.at(entry.first,
                    "'" + visibleText(key) + "' in " + where + " is not a setting quillo knows");
    }
}

constexpr std::array<std::pair<const char*, ClientAuth>, 5> clientAuthNames{{
    {"NoClientCert", ClientAuth::none},
    {"RequestClientCert", ClientAuth::request},
    {"RequireAnyClientCert", ClientAuth::requireAny},
    {"VerifyClientCertIfGiven", ClientAuth::verifyIfGiven},
    {"RequireAndVerifyClientCert", ClientAuth::requireAndVerify},
}};
constexpr std::array<const char*, 4> tlsVersions{"TLS10", "TLS11", "TLS12", "TLS13"};

int tlsVersion(const YAML::Node& node, const std::string& key, const ConfigError& fail) {
    const std::string name = scalar(node, key, fail);
    for (std::size_t i = 0; i < tlsVersions.size(); ++i)
        if (name == tlsVersions[i]) return int(i);
    fail.at(node, key + " is one of TLS10, TLS11, TLS12, TLS13, not '" + visibleText(name) + "'");
    return 0;
}

// What GnuTLS would say of the certificate and key, said before the server starts.
void checkCredentials(const WebConfig::Tls& tls, const ConfigError& fail) {
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);
    const std::unique_ptr<gnutls_certificate_credentials_st,
                          decltype(&gnutls_certificate_free_credentials)>
        owned(credentials, &gnutls_certificate_free_credentials);
    const auto datum = [](const std::string& s) {
        return gnutls_datum_t{reinterpret_cast<unsigned char*>(const_cast<char*>(s.data())),
                              unsigned(s.size())};
    };
    const gnutls_datum_t cert = datum(tls.certPem), key = datum(tls.keyPem);
    if (const int e =
            gnutls_certificate_set_x509_key_mem(credentials, &cert, &key, GNUTLS_X509_FMT_PEM);
        e < 0)
        fail(std::string("cert_file and key_file: ") + gnutls_strerror(e));
    if (!tls.clientCaPem.empty()) {
        const gnutls_datum_t ca = datum(tls.clientCaPem);
        if (gnutls_certificate_set_x509_trust_mem(credentials, &ca, GNUTLS_X509_FMT_PEM) <= 0)
            fail("client_ca_file holds no certificate");
    }
}

std::optional<WebConfig::Tls> readTls(const YAML::Node& node, const std::filesystem::path& folder,
                                      const ConfigError& fail) {
    onlyKeys(node, "tls_server_config",
             {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version",
              "max_version"},
             fail);
    const auto path = [&](const char* key) -> std::optional<std::filesystem::path> {
        if (!node[key]) return std::nullopt;
        const std::string text = scalar(node[key], key, fail);
        if (text.empty()) return std::nullopt;
        return folder / text;  // an absolute path replaces the folder
    };
    const auto cert = path("cert_file"), key = path("key_file"), ca = path("client_ca_file");
    if (!cert && !key && !ca && !node["client_auth_type"]) return std::nullopt;
    if (!cert || !key) fail("tls_server_config needs both cert_file and key_file");

    WebConfig::Tls tls;
    tls.certPem = readWhole(*cert, fail, "cert_file");
    tls.keyPem = readWhole(*key, fail, "key_file");
    if (ca) tls.clientCaPem = readWhole(*ca, fail, "client_ca_file");
    if (const YAML::Node type = node["client_auth_type"]) {
        const std::string name = scalar(type, "client_auth_type", fail);
        const auto* found = std::find_if(clientAuthNames.begin(), clientAuthNames.end(),
                                         [&](const auto& n) { return name == n.first; });
        if (found == clientAuthNames.end())
            fail.at(type,
                    "client_auth_type is one of NoClientCert, RequestClientCert, "
                    "RequireAnyClientCert, VerifyClientCertIfGiven, "
                    "RequireAndVerifyClientCert, not '" +
                        visibleText(name) + "'");
        tls.clientAuth = found->second;
    }
    // Asking a client for its certificate names the authorities it may come from.
    if (tls.clientAuth != ClientAuth::none && !ca)
        fail("client_auth_type " + node["client_auth_type"].Scalar() + " needs client_ca_file");
    if (tls.clientAuth == ClientAuth::none && ca)
        fail("client_ca_file is given but client_auth_type does not ask for certificates");

    const int low = node["min_version"] ? tlsVersion(node["min_version"], "min_version", fail) : 2;
    const int high = node["max_version"] ? tlsVersion(node["max_version"], "max_version", fail) : 3;
    if (low > high) fail("min_version is above max_version");
    tls.priorities = "NORMAL:-VERS-ALL";
    for (int v = low; v <= high; ++v) tls.priorities += ":+VERS-TLS1." + std::to_string(v);
    checkCredentials(tls, fail);
    return tls;
}

// Whether hash is one libcrypt reads as bcrypt: "$2a$", "$2b$" or "$2y$", then the cost.
// libcrypt's hash of phrase with the setting (a stored hash); "*..." where it cannot.
std::string crypted(const std::string& phrase, const std::string& setting) {
    void* scratch = nullptr;
    int size = 0;
    const char* out = crypt_ra(phrase.c_str(), setting.c_str(), &scratch, &size);
    std::string result = out ? out : "*";
    std::free(scratch);
    return result;
}

bool isBcrypt(const std::string& hash) {
    if (hash.size() != 60 || hash.compare(0, 2, "$2") != 0 || hash[3] != '$') return false;
    if (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y') return false;
    return crypted("", hash)[0] != '*';
}

// Every byte is compared, so the time says nothing of how much was right.
bool sameText(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) differ |= a[i] ^ b[i];
    return differ == 0;
}

}  // namespace

WebConfig loadWebConfig(const std::filesystem::path& file) {
    const ConfigError fail(file);
    const std::string text = readWhole(file, fail, "");
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        fail("line " + std::to_string(e.mark.line + 1) + ": " + e.msg);
    }
    WebConfig config;
    if (root.IsNull()) return config;
    onlyKeys(root, "the file", {"tls_server_config", "basic_auth_users"}, fail);
    if (const YAML::Node tls = root["tls_server_config"]; tls && !tls.IsNull())
        config.tls = readTls(tls, file.parent_path(), fail);
    if (const YAML::Node users = root["basic_auth_users"]; users && !users.IsNull()) {
        if (!users.IsMap()) fail.at(users, "basic_auth_users takes user names and bcrypt hashes");
        for (const auto& entry : users) {
            const std::string name = entry.first.as<std::string>();
            const std::string hash = scalar(entry.second, name, fail);
            if (name.empty() || name.find(':') != std::string::npos)
                fail.at(entry.first, "a user name is not empty and has no ':'");
            if (!isBcrypt(hash))
                fail.at(entry.second,
                        "the password of " + visibleText(name) +
                            " is not a bcrypt hash (htpasswd -nBC 10 \"\" makes one)");
            config.users[name] = hash;
        }
    }
    return config;
}

bool BasicAuth::allows(const std::string& user, const std::string& password) {
    const auto known = users_.find(user);
    {
        std::lock_guard lock(mutex_);
        const auto seen = verified_.find(user);
        if (known != users_.end() && seen != verified_.end() && sameText(seen->second, password))
            return true;
    }
    // An unknown name costs what a known one does, so the time does not tell them apart.
    static const std::string nobody =
        "$2b$10$Qu1lloNoSuchUserSa1tAe7R/Kw.zGPetnas2E7zPHdx8m6uJ5TAO";
    const std::string& hash = known == users_.end() ? nobody : known->second;
    const bool right = sameText(crypted(password, hash), hash) && known != users_.end();
    if (right) {
        std::lock_guard lock(mutex_);
        verified_[user] = password;
    }
    return right;
}

}  // namespace quillo::cli
