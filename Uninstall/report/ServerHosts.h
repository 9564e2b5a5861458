// Where the product's servers are: deployment configuration kept in one place. Each host is a
// host name with an optional ":port"; the URL paths and query keys belong to their callers.
//
// The defaults are the product's servers. Tests (and only tests) point the hosts elsewhere with
// SetServerHosts before the first request; the shipped program never calls it, and nothing in
// the environment or the registry can redirect the hosts.
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

// "http://" + host, the scheme every caller uses.
std::wstring HttpBase(const std::wstring& host);
