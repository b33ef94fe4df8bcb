// Key files through every reader of platform/security/key_formats.h. The
// first byte picks the reader ('0' to '7' in the corpus, any byte modulo 8):
// 0 PEM blocks, 1 DEK-Info, 2 and 3 the private key search with and without
// the password "pw", 4 public keys, 5 SSH public keys, 6 PPK, 7 XML. Whatever
// the input, a reader says Found exactly when it hands over a key, no block
// is larger than the text it came from, and the single-block search agrees
// with the full walk.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/security/key_formats.h"

using namespace platform::security;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkKey(const KeyResult& result) { check((result.status == KeyStatus::Found) == (result.key != nullptr)); }

// Argon2's cost is the file's to choose (up to 256 MiB and 1000 passes);
// inputs asking for more than a token amount are skipped so that the fuzzer
// spends its time on parsing. The number after the field name, or 0.
std::uint64_t fieldValue(std::string_view text, std::string_view field) {
    std::size_t at = text.find(field);
    if (at == std::string_view::npos) return 0;
    std::uint64_t value = 0;
    for (at += field.size(); at < text.size() && (text[at] == ' ' || text[at] == ':'); ++at) {
    }
    for (int digits = 0; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 12; ++at, ++digits) {
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    return value;
}

bool cheapArgon2(std::string_view text) {
    return fieldValue(text, "Argon2-Memory") <= 64 && fieldValue(text, "Argon2-Passes") <= 2 &&
           fieldValue(text, "Argon2-Parallelism") <= 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    switch (data[0] % 8) {
        case 0: {
            auto blocks = readPemBlocks(text);
            for (const auto& block : blocks) {
                check(block.body.size() <= text.size() && block.label.size() <= text.size());
                for (const auto& [name, value] : block.headers) check(name.size() + value.size() <= text.size());
            }
            if (!blocks.empty()) {
                auto first = findPemBlock(text, blocks.front().label);
                check(first && first->body == blocks.front().body && first->headers == blocks.front().headers);
            }
            break;
        }
        case 1: {
            auto dek = parseDekInfo(text);
            if (dek) check(!dek->cipher.empty() && !dek->iv.empty() && dek->iv.size() * 2 <= text.size());
            break;
        }
        case 2:
        case 3:
            if (!cheapArgon2(text)) return 0;
            checkKey(findPrivateKey(text, data[0] % 8 == 2 ? "pw" : ""));
            break;
        case 4: checkKey(readPublicKey(text)); break;
        case 5: checkKey(readSshPublicKey(bytes)); break;
        case 6:
            if (!cheapArgon2(text)) return 0;
            checkKey(readPpk(text, "pw"));
            break;
        case 7: {
            XmlResult xml = readXmlKey(text);
            if (xml.status == XmlStatus::Found) {
                check((xml.value.key != nullptr) != !xml.value.certificates.empty());
                check(!xml.value.isPrivate || xml.value.key != nullptr);
            } else {
                check(!xml.value.key && xml.value.certificates.empty());
            }
            break;
        }
    }
    return 0;
}
