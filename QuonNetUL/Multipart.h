// Pure helpers of the network module: text conversion and the multipart form body.
#pragma once
#include <string>
#include <vector>

namespace quonnet {

struct FormField {
    std::string name;   // bytes as they go on the wire
    std::string value;
};

// A boundary that occurs in no field, derived from the seed.
std::string ChooseBoundary(const std::vector<FormField>& fields, unsigned long long seed);

// multipart/form-data body: one part per field in order, closed by the final delimiter.
// Quotes, CR and LF in a name are percent-encoded so that they cannot end the header.
std::string BuildMultipartBody(const std::vector<FormField>& fields, const std::string& boundary);

// The Content-Type header line for the boundary.
std::wstring MultipartContentType(const std::string& boundary);

}  // namespace quonnet
