#pragma once

#include <cstdlib>
#include <string>

namespace scoped_env_detail
{

#if defined(_WIN32)
// Windows has no setenv: _putenv_s sets a variable, and an empty value removes it.
inline int setenv(const char* name, const char* value, int)
{
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name)
{
    return _putenv_s(name, "");
}
#else
using ::setenv;
using ::unsetenv;
#endif

} // namespace scoped_env_detail

/// Sets an environment variable (null: unsets it) for one scope and restores it afterwards.
class ScopedEnv
{
  public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        const char* old = std::getenv(name);
        hadValue_ = old != nullptr;
        if (hadValue_)
            old_ = old;
        if (value != nullptr)
            scoped_env_detail::setenv(name, value, 1);
        else
            scoped_env_detail::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (hadValue_)
            scoped_env_detail::setenv(name_.c_str(), old_.c_str(), 1);
        else
            scoped_env_detail::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadValue_ = false;
};
