#include "platform/security/ciphertext_bio.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace platform::security {

void CiphertextInput::lend(std::span<const std::uint8_t> bytes) {
    if (pending() == 0) {
        kept_.clear();
        keptRead_ = 0;
        lent_ = bytes;
    } else {
        keepUnread();
        kept_.insert(kept_.end(), bytes.begin(), bytes.end());
    }
}

void CiphertextInput::keepUnread() {
    if (keptRead_ > 0) {
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(keptRead_));
        keptRead_ = 0;
    }
    kept_.insert(kept_.end(), lent_.begin(), lent_.end());
    lent_ = {};
}

std::size_t CiphertextInput::read(std::uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    if (keptRead_ < kept_.size()) {
        done = std::min(size, kept_.size() - keptRead_);
        std::memcpy(out, kept_.data() + keptRead_, done);
        keptRead_ += done;
    }
    if (done < size && !lent_.empty()) {
        const std::size_t more = std::min(size - done, lent_.size());
        std::memcpy(out + done, lent_.data(), more);
        lent_ = lent_.subspan(more);
        done += more;
    }
    return done;
}

namespace {

int readInput(BIO* bio, char* out, std::size_t size, std::size_t* done) {
    BIO_clear_retry_flags(bio);
    auto* input = static_cast<CiphertextInput*>(BIO_get_data(bio));
    *done = input->read(reinterpret_cast<std::uint8_t*>(out), size);
    if (*done > 0) return 1;
    BIO_set_retry_read(bio);
    return 0;
}

int writeOutput(BIO* bio, const char* bytes, std::size_t size, std::size_t* done) {
    BIO_clear_retry_flags(bio);
    auto* output = static_cast<std::vector<std::uint8_t>*>(BIO_get_data(bio));
    try {
        const auto* first = reinterpret_cast<const std::uint8_t*>(bytes);
        output->insert(output->end(), first, first + size);
    } catch (const std::bad_alloc&) {
        *done = 0;
        return 0;  // OpenSSL reports a failed write as an error
    }
    *done = size;
    return 1;
}

long inputControl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_PENDING: return static_cast<long>(static_cast<CiphertextInput*>(BIO_get_data(bio))->pending());
        case BIO_CTRL_FLUSH: return 1;
        default: return 0;
    }
}

long outputControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

BIO_METHOD* makeMethod(const char* name, bool input) {
    BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, name);
    if (method == nullptr) return nullptr;
    if (input) {
        BIO_meth_set_read_ex(method, readInput);
        BIO_meth_set_ctrl(method, inputControl);
    } else {
        BIO_meth_set_write_ex(method, writeOutput);
        BIO_meth_set_ctrl(method, outputControl);
    }
    return method;
}

BIO* newBio(const BIO_METHOD* method, void* data) {
    if (method == nullptr) return nullptr;
    BIO* bio = BIO_new(method);
    if (bio == nullptr) return nullptr;
    BIO_set_data(bio, data);
    BIO_set_init(bio, 1);
    return bio;
}

}  // namespace

// The methods live as long as the process, like OpenSSL's own.
BIO* newInputBio(CiphertextInput& input) {
    static const BIO_METHOD* const method = makeMethod("ciphertext input", true);
    return newBio(method, &input);
}

BIO* newOutputBio(std::vector<std::uint8_t>& output) {
    static const BIO_METHOD* const method = makeMethod("ciphertext output", false);
    return newBio(method, &output);
}

}  // namespace platform::security
