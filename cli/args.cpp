// Option parsing shared by the verbs.
#include "args.h"

ParsedArgs::ParsedArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                       const std::set<std::string>& flags) {
  bool onlyPositional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPositional || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (arg == "--") {
        onlyPositional = true;
        continue;
      }
      positional_.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> inlineValue;
    if (const size_t equals = name.find('='); equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    if (valued.count(name) != 0) {
      if (inlineValue) {
        values_[name] = *inlineValue;
      } else if (i + 1 < args.size()) {
        values_[name] = args[++i];
      } else {
        error_ = "option --" + name + " needs a value";
        return;
      }
    } else if (flags.count(name) != 0 && !inlineValue) {
      values_[name] = "";
    } else {
      error_ = "unknown option --" + name;
      return;
    }
  }
}

std::optional<std::string> ParsedArgs::Value(const std::string& name) const {
  auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::string ParsedArgs::ValueOr(const std::string& name, const std::string& fallback) const {
  return Value(name).value_or(fallback);
}
