#include "qk/CommandLine.h"

#include <charconv>
#include <functional>
#include <string_view>

namespace qk::tool {

namespace {

struct CommandWord {
    const char* shortName;
    const char* longName;
    Command command;
};

constexpr CommandWord kCommands[] = {
    {"l", "list", Command::kList},       {"t", "test", Command::kTest},
    {"x", "extract", Command::kExtract}, {"p", "print", Command::kPrint},
    {"a", "add", Command::kAdd},         {"help", "help", Command::kHelp},
};

// Bits of the commands an option belongs to.
constexpr unsigned kAll = ~0u;
constexpr unsigned Bit(Command c) {
    return 1u << static_cast<unsigned>(c);
}
constexpr unsigned kReading =
    Bit(Command::kList) | Bit(Command::kTest) | Bit(Command::kExtract) | Bit(Command::kPrint);

struct OptionRule {
    char shortName;  // 0: long form only
    const char* longName;
    bool takesValue;
    unsigned commands;
    // Applies the option; false with a message for a bad value.
    std::function<bool(Options&, const std::string&, std::string&)> apply;
};

bool ParseExisting(const std::string& value, ExistingPolicy& policy) {
    if (value == "ask") {
        policy = ExistingPolicy::kAsk;
    } else if (value == "overwrite") {
        policy = ExistingPolicy::kOverwrite;
    } else if (value == "skip") {
        policy = ExistingPolicy::kSkip;
    } else if (value == "rename" || value == "keep-both") {
        policy = ExistingPolicy::kKeepBoth;
    } else {
        return false;
    }
    return true;
}

const std::vector<OptionRule>& Specs() {
    using O = Options;
    using S = const std::string;
    static const std::vector<OptionRule> specs = {
        {'h', "help", false, kAll, [](O& o, S&, std::string&) { return o.help = true; }},
        {0, "version", false, kAll, [](O& o, S&, std::string&) { return o.version = true; }},
        {'q', "quiet", false, kAll, [](O& o, S&, std::string&) { return o.quiet = true; }},
        {0, "charset", true, kAll,
         [](O& o, S& v, std::string& e) {
             if (ParseCharset(v, o.charset)) return true;
             e = "unknown charset '" + v + "' (auto, cp932, utf-8 or raw)";
             return false;
         }},
        {0, "json", false, Bit(Command::kList),
         [](O& o, S&, std::string&) { return o.json = true; }},
        {'o', "output", true, Bit(Command::kExtract),
         [](O& o, S& v, std::string&) {
             o.outputDir = v;
             return true;
         }},
        {0, "existing", true, Bit(Command::kExtract),
         [](O& o, S& v, std::string& e) {
             if (ParseExisting(v, o.existing)) return true;
             e = "unknown policy '" + v + "' (ask, overwrite, skip or rename)";
             return false;
         }},
        {'f', "overwrite", false, Bit(Command::kExtract),
         [](O& o, S&, std::string&) {
             o.existing = ExistingPolicy::kOverwrite;
             return true;
         }},
        {'n', "skip", false, Bit(Command::kExtract),
         [](O& o, S&, std::string&) {
             o.existing = ExistingPolicy::kSkip;
             return true;
         }},
        {'k', "keep-both", false, Bit(Command::kExtract),
         [](O& o, S&, std::string&) {
             o.existing = ExistingPolicy::kKeepBoth;
             return true;
         }},
        {'p', "password", true, kReading | Bit(Command::kAdd),
         [](O& o, S& v, std::string&) {
             o.passwordGiven = true;
             o.password = v;
             return true;
         }},
        {'P', "ask-password", false, Bit(Command::kAdd),
         [](O& o, S&, std::string&) { return o.askPassword = true; }},
        {'l', "large", false, Bit(Command::kAdd),
         [](O& o, S&, std::string&) { return o.largeModel = true; }},
        {'i', "inner", false, Bit(Command::kAdd),
         [](O& o, S&, std::string&) { return o.insertInner = true; }},
        {0, "depth", true, Bit(Command::kAdd),
         [](O& o, S& v, std::string& e) {
             const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), o.searchDepth);
             if (ec == std::errc() && end == v.data() + v.size() && o.searchDepth >= 0) {
                 return true;
             }
             e = "--depth needs a number of 0 or more, not '" + v + "'";
             return false;
         }},
        {0, "level", true, Bit(Command::kAdd),
         [](O& o, S& v, std::string& e) {
             const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), o.level);
             if (ec == std::errc() && end == v.data() + v.size() && o.level >= 1 && o.level <= 9) {
                 return true;
             }
             e = "--level needs a number from 1 to 9, not '" + v + "'";
             return false;
         }},
        {0, "sfx", false, Bit(Command::kAdd), [](O& o, S&, std::string&) { return o.sfx = true; }},
        {0, "sfx-program", true, Bit(Command::kAdd),
         [](O& o, S& v, std::string&) {
             o.sfx = true;
             o.sfxProgram = v;
             return true;
         }},
        {0, "skip-errors", false, Bit(Command::kAdd),
         [](O& o, S&, std::string&) { return o.skipErrors = true; }},
        {'C', "directory", true, Bit(Command::kAdd),
         [](O& o, S& v, std::string&) {
             o.baseDir = v;
             return true;
         }},
    };
    return specs;
}

const OptionRule* FindShort(char c, Command command) {
    for (const OptionRule& s : Specs())
        if (s.shortName == c && (s.commands & Bit(command))) return &s;
    return nullptr;
}

const OptionRule* FindLong(std::string_view name, Command command) {
    for (const OptionRule& s : Specs())
        if (name == s.longName && (s.commands & Bit(command))) return &s;
    return nullptr;
}

bool FindCommand(const std::string& word, Command& command) {
    for (const CommandWord& c : kCommands) {
        if (word == c.shortName || word == c.longName) {
            command = c.command;
            return true;
        }
    }
    return false;
}

// Operands each command needs at least.
std::size_t MinimumOperands(Command command) {
    switch (command) {
        case Command::kList:
        case Command::kTest:
        case Command::kExtract:
            return 1;
        case Command::kPrint:
        case Command::kAdd:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

const char* CommandName(Command command) {
    for (const CommandWord& c : kCommands)
        if (c.command == command) return c.shortName;
    return "";
}

bool ParseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error) {
    options = Options();
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (options.command == Command::kNone) {
                if (!FindCommand(arg, options.command)) {
                    error = "unknown command '" + arg + "'";
                    return false;
                }
            } else {
                options.operands.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Options before the command are the ones every command takes.
        const Command scope = options.command == Command::kNone ? Command::kHelp : options.command;
        if (arg[1] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
            const OptionRule* rule = FindLong(name, scope);
            if (!rule || (!rule->takesValue && eq != std::string::npos)) {
                error = "unknown option '" + arg + "'";
                return false;
            }
            std::string value;
            if (rule->takesValue) {
                if (eq != std::string::npos) {
                    value = arg.substr(eq + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    error = "option '--" + name + "' needs a value";
                    return false;
                }
            }
            if (!rule->apply(options, value, error)) return false;
            continue;
        }
        // A cluster of short options; one that takes a value ends it.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionRule* rule = FindShort(arg[k], scope);
            if (!rule) {
                error = std::string("unknown option '-") + arg[k] + "'";
                return false;
            }
            std::string value;
            if (rule->takesValue) {
                if (k + 1 < arg.size()) {
                    value = arg.substr(k + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    error = std::string("option '-") + arg[k] + "' needs a value";
                    return false;
                }
                k = arg.size();
            }
            if (!rule->apply(options, value, error)) return false;
        }
    }
    if (options.help || options.version) return true;
    if (options.command == Command::kNone) {
        error = "no command given";
        return false;
    }
    if (options.operands.size() < MinimumOperands(options.command)) {
        error = std::string("'") + CommandName(options.command) + "' needs " +
                (MinimumOperands(options.command) == 1 ? "an archive" : "an archive and names");
        return false;
    }
    return true;
}

}  // namespace qk::tool
