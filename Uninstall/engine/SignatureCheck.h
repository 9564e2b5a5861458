// Authenticode gate in front of every module the uninstaller loads and every product program it
// runs: a valid signature whose signer is one of the maker's publishers (or a named one).
#pragma once

// The file is signed and its signer is on the publisher allow-list.
bool VerifyFileSignature(const wchar_t* path);
// The file is signed and its signer's display name equals signerName (case-insensitively).
// A null signerName accepts without looking at the file.
bool VerifyFileSignatureBy(const wchar_t* path, const wchar_t* signerName);
