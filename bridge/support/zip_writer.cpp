#include "bridge/support/zip_writer.h"

#include <zip.h>

namespace taltrix::support {

bool writeZip(const std::string& path, const std::vector<BundleFile>& files, std::string& error) {
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (zip == nullptr) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, code);
        error = "cannot create " + path + ": " + zip_error_strerror(&reason);
        zip_error_fini(&reason);
        return false;
    }
    for (const BundleFile& file : files) {
        // The bytes stay ours until zip_close has read them.
        zip_source_t* source = zip_source_buffer(zip, file.bytes.data(), file.bytes.size(), 0);
        if (source == nullptr ||
            zip_file_add(zip, file.name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
            error = "cannot add " + file.name + " to " + path + ": " + zip_strerror(zip);
            zip_source_free(source);
            zip_discard(zip);
            return false;
        }
    }
    if (zip_close(zip) < 0) {
        error = "cannot write " + path + ": " + zip_strerror(zip);
        zip_discard(zip);
        return false;
    }
    return true;
}

}  // namespace taltrix::support
