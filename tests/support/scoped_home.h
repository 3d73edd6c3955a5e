// Points HOME at a fresh temporary folder for one test and puts everything
// back afterwards (the previous HOME, or none, and the folder removed).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/environment.h"

namespace vx::testing {

class ScopedHome {
public:
    ScopedHome()
        : previous_(platform::environment_variable("HOME")),
          path_(std::filesystem::temp_directory_path() / ("vxdiag-home-" + std::to_string(std::random_device()()))) {
        if (!std::filesystem::create_directory(path_)) throw std::runtime_error("cannot make " + path_.string());
        platform::set_environment_variable("HOME", path_.string().c_str());
    }
    ~ScopedHome() {
        platform::set_environment_variable("HOME", previous_ ? previous_->c_str() : nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes a file below the home folder, making its folders.
    void write(const std::filesystem::path& relative, const std::string& text) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }

private:
    std::optional<std::string> previous_;
    std::filesystem::path path_;
};

}  // namespace vx::testing
