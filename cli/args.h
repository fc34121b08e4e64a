// A small parser for "--name value", "--flag" and positional arguments.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class ParsedArgs {
 public:
  // `valued` lists the options that take a value, `flags` those that do not (names without the
  // leading dashes). Anything else starting with "--" is an error.
  ParsedArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
             const std::set<std::string>& flags);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::optional<std::string> Value(const std::string& name) const;
  std::string ValueOr(const std::string& name, const std::string& fallback) const;
  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> positional_;
  std::string error_;
};
