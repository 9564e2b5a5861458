#include "Multipart.h"
#include <windows.h>
#include <cwchar>

namespace quonnet {

std::string ChooseBoundary(const std::vector<FormField>& fields, unsigned long long seed) {
    for (unsigned attempt = 0;; ++attempt) {
        char text[64];
        snprintf(text, sizeof(text), "----QuonNetULBoundary%016llx%02x", seed, attempt & 0xFF);
        std::string boundary = text;
        bool clashes = false;
        for (const FormField& field : fields)
            clashes = clashes || field.value.find(boundary) != std::string::npos ||
                      field.name.find(boundary) != std::string::npos;
        if (!clashes || attempt >= 255) return boundary;
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    }
}

namespace {
std::string HeaderSafeName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '"') out += "%22";
        else if (c == '\r') out += "%0D";
        else if (c == '\n') out += "%0A";
        else out += c;
    }
    return out;
}
}  // namespace

std::string BuildMultipartBody(const std::vector<FormField>& fields, const std::string& boundary) {
    std::string body;
    for (const FormField& field : fields) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + HeaderSafeName(field.name) + "\"\r\n\r\n";
        body += field.value;
        body += "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

std::wstring MultipartContentType(const std::string& boundary) {
    std::wstring header = L"Content-Type: multipart/form-data; boundary=";
    header.append(boundary.begin(), boundary.end());
    return header;
}

}  // namespace quonnet
