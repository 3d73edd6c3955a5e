// The JSON files of the Linux PassThru registration convention.
#include "platform/registration_reader.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace vx::platform {

namespace {

// "~" alone or followed by "/" stands for the home folder ("~user" does not).
std::string expand_home(std::string_view library, std::string_view home) {
    if (library != "~" && !library.starts_with("~/")) return std::string(library);
    while (!home.empty() && home.back() == '/') home.remove_suffix(1);
    std::string joined(home);
    joined.append(library.substr(1));
    if (joined.empty()) joined = "/";
    return joined;
}

// Reads the three members of a registration straight from the parser's
// events (SAX) instead of building a document: nlohmann::json's document
// destructor allocates, so running out of memory while one is destroyed
// would end the process instead of reaching the caller as std::bad_alloc.
// As a document would: only a top-level object is a registration, a later
// duplicate member replaces an earlier one, and a member whose value is not a
// string is absent.
class RegistrationReader final : public nlohmann::json_sax<nlohmann::json> {
public:
    PassThruRegistration registration;
    bool top_level_object = false;

    bool null() override { return other_value(); }
    bool boolean(bool) override { return other_value(); }
    bool number_integer(number_integer_t) override { return other_value(); }
    bool number_unsigned(number_unsigned_t) override { return other_value(); }
    bool number_float(number_float_t, const string_t&) override { return other_value(); }
    bool binary(binary_t&) override { return other_value(); }
    bool string(string_t& value) override {
        if (depth_ == 0) return false;
        if (depth_ == 1 && member_ != nullptr) *member_ = std::move(value);
        return true;
    }
    bool start_object(std::size_t) override {
        if (depth_ == 0) top_level_object = true;
        if (depth_ == 1) clear_member();
        ++depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) member_ = member_named(name);
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth_ == 0) return false;
        if (depth_ == 1) clear_member();
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool other_value() {
        if (depth_ == 0) return false;
        if (depth_ == 1) clear_member();
        return true;
    }
    void clear_member() {
        if (member_ != nullptr) member_->reset();
    }
    std::optional<std::string>* member_named(const std::string& name) {
        if (name == "NAME") return &registration.name;
        if (name == "VENDOR") return &registration.vendor;
        if (name == "FUNCTION_LIB") return &registration.function_library;
        return nullptr;
    }

    std::size_t depth_ = 0;  // 1 inside the top-level object
    std::optional<std::string>* member_ = nullptr;  // the member the next value at depth 1 belongs to
};

}  // namespace

std::optional<PassThruRegistration> parse_passthru_registration(std::string_view text, std::string_view home) {
    RegistrationReader reader;
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reader) || !reader.top_level_object) {
        return std::nullopt;
    }
    PassThruRegistration registration = std::move(reader.registration);
    if (registration.function_library) {
        registration.function_library = expand_home(*registration.function_library, home);
    }
    return registration;
}

}  // namespace vx::platform
