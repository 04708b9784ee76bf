#include "platform/scripted/script.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace speechline::scripted {
namespace {

// Splits a line into words and "quoted strings"; fails on an unterminated string.
bool tokenize(const std::string& line, std::vector<std::string>* words) {
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
    } else if (line[i] == '#') {
      break;
    } else if (line[i] == '"') {
      std::string word;
      for (++i;; ++i) {
        if (i >= line.size()) return false;
        if (line[i] == '"') break;
        if (line[i] != '\\' || i + 1 >= line.size()) {
          word.push_back(line[i]);
          continue;
        }
        const char escaped = line[++i];
        if (escaped == 'n') {
          word.push_back('\n');
        } else if (escaped == 't') {
          word.push_back('\t');
        } else if (escaped == 'x' && i + 2 < line.size()) {
          word.push_back(static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)));
          i += 2;
        } else {
          word.push_back(escaped);
        }
      }
      ++i;
      words->push_back(word);
    } else {
      const size_t end = line.find_first_of(" \t", i);
      words->push_back(line.substr(i, end == std::string::npos ? end : end - i));
      i = end == std::string::npos ? line.size() : end;
    }
  }
  return true;
}

bool parsePermission(const std::vector<std::string>& words, long long value,
                     PermissionAnswer* answer) {
  answer->value = value;
  if (words.size() == 2) return true;
  if (words.size() != 4 || words[2] != "thread") return false;
  answer->fromOtherThread = true;
  answer->delayMilliseconds = std::stoi(words[3]);
  return true;
}

bool parseDelivery(const std::vector<std::string>& words, Delivery* delivery) {
  delivery->atMilliseconds = std::stoi(words.at(1));
  for (size_t i = 2; i + 1 < words.size(); i += 2) {
    if (words[i] == "partial" || words[i] == "final") {
      delivery->resultText = words[i + 1];
      delivery->resultIsFinal = words[i] == "final";
    } else if (words[i] == "error") {
      delivery->errorDescription = words[i + 1];
    } else {
      return false;
    }
  }
  return words.size() % 2 == 0;
}

bool parseLine(const std::vector<std::string>& words, Script* script) {
  const std::string& directive = words[0];
  const size_t count = words.size();
  if (directive == "log" && count == 2) {
    script->callLogPath = words[1];
  } else if (directive == "speechAuthorization" && count >= 2) {
    return parsePermission(words, std::stoll(words[1]), &script->speechAuthorization);
  } else if (directive == "microphoneAccess" && count >= 2) {
    return parsePermission(words, words[1] == "yes", &script->microphoneAccess);
  } else if (directive == "locale" && count >= 2) {
    ScriptedLocale locale{words[1]};
    for (size_t i = 2; i < count; ++i) {
      if (words[i] == "unavailable") {
        locale.available = false;
      } else if (words[i] == "noOnDevice") {
        locale.supportsOnDevice = false;
      } else {
        return false;
      }
    }
    script->locales.push_back(locale);
  } else if (directive == "input" && count == 3) {
    script->channelCount = static_cast<unsigned>(std::stoul(words[1]));
    script->sampleRate = std::stod(words[2]);
  } else if (directive == "engineStartError" && count == 2) {
    script->engineStartError = words[1];
  } else if (directive == "engineStops" && count == 3) {
    script->engineStop = EngineStop{std::stoi(words[1]), words[2]};
  } else if (directive == "tapBuffers" && count == 2) {
    script->tapBuffers = std::stoi(words[1]);
  } else if (directive == "deliver" && count >= 2) {
    Delivery delivery;
    if (!parseDelivery(words, &delivery)) return false;
    script->deliveries.push_back(delivery);
  } else if (directive == "cancelError" && count == 2) {
    script->cancelError = words[1];
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::optional<Script> Script::parse(const std::string& text, std::string* problem) {
  Script script;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::vector<std::string> words;
    bool ok = tokenize(line, &words);
    try {
      ok = ok && (words.empty() || parseLine(words, &script));
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok) {
      *problem = "line " + std::to_string(number) + ": " + line;
      return std::nullopt;
    }
  }
  return script;
}

const Script& Script::shared() {
  static const Script* script = [] {
    const char* path = std::getenv("SPEECHLINE_SCRIPT");
    std::ifstream file(path ? path : "");
    std::stringstream text;
    text << file.rdbuf();
    std::string problem = "cannot read the file named by SPEECHLINE_SCRIPT";
    std::optional<Script> parsed;
    if (file) parsed = parse(text.str(), &problem);
    if (!parsed) {
      std::fprintf(stderr, "speechline-scripted: bad script: %s\n", problem.c_str());
      std::abort();
    }
    return new Script(*parsed);
  }();
  return *script;
}

void logCall(const std::string& line) {
  static const int fd = [] {
    const std::string& path = Script::shared().callLogPath;
    return path.empty() ? -1
                        : ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }();
  if (fd < 0) return;
  const std::string entry = line + "\n";
  [[maybe_unused]] const ssize_t ignored = ::write(fd, entry.data(), entry.size());
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace speechline::scripted
