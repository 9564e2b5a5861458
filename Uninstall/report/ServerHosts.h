// Where the product's servers are: deployment configuration kept in one place. Each host is a
// host name with an optional ":port"; the URL paths and query keys belong to their callers.
//
// The defaults are the product's servers. Tests (and only tests) point the hosts elsewhere with
// SetServerHosts before the first request. The shipped program never calls it, and nothing in
// the environment or the registry can redirect its hosts: only a test build of Uninstall.exe
// (compiled with VORO_TEST_HOSTS) reads an override text from its environment at start-up.
#pragma once
#include <string>

struct ServerHosts {
    std::wstring statistics;     // statistics dots
    std::wstring webService;     // the product's web service (configuration, answers, report)
    std::wstring download;       // full installer download
    std::wstring accountCentre;  // account centre page
};

// The product's own servers.
ServerHosts DefaultServerHosts();
// The hosts in effect (a copy; safe from any thread).
ServerHosts GetServerHosts();
// Replaces the hosts in effect.
void SetServerHosts(const ServerHosts& hosts);

// The hosts after an override text: one host ("127.0.0.1:8080") replaces every host; pairs
// "statistics=h1;webService=h2;download=h3;accountCentre=h4" (names case-insensitive, ';' or ','
// between pairs) replace the named ones. A leading "http://" and a trailing "/" of a host are
// dropped. False (hosts untouched) for an empty text, an unknown name or an empty host.
bool ParseServerHostsOverride(const std::wstring& text, ServerHosts& hosts);

// "http://" + host, the scheme every caller uses.
std::wstring HttpBase(const std::wstring& host);
