#pragma once

#include <cstdlib>
#include <map>
#include <string>

// Sets environment variables for one test and puts the old values back
// afterwards. A null value unsets the variable.
class scoped_env {
  public:
    void set(const char *name, const char *value) {
        if (!saved_.count(name)) {
            const char *old = std::getenv(name);
            saved_[name] = old ? std::pair<bool, std::string>(true, old) : std::pair<bool, std::string>(false, "");
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~scoped_env() {
        for (auto &kv : saved_) {
            if (kv.second.first)
                setenv(kv.first.c_str(), kv.second.second.c_str(), 1);
            else
                unsetenv(kv.first.c_str());
        }
    }

  private:
    std::map<std::string, std::pair<bool, std::string>> saved_;
};
