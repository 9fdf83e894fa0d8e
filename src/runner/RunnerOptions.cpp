#include "runner/RunnerOptions.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace runner {
namespace {

// "--name=value" or "--name value"; answers the value, advancing `i` past it.
std::optional<std::string> valueOf(const std::vector<std::string>& args, std::size_t& i, std::string_view name) {
    const std::string& arg = args[i];
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=')
        return arg.substr(name.size() + 1);
    if (arg == name && i + 1 < args.size())
        return args[++i];
    return std::nullopt;
}

bool startsWith(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A URL scheme: a letter, then letters, digits, "+", "-" or ".".
bool isScheme(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s.front())))
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

// "a,b,c" (spaces around names allowed; an empty list is allowed); nullopt when a name is
// not a scheme.
std::optional<std::vector<std::string>> schemeList(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        auto comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (!isScheme(item))
            return std::nullopt;
        std::string scheme(item);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        out.push_back(std::move(scheme));
    }
    return out;
}

} // namespace

std::optional<RunnerOptions> parseRunnerOptions(const std::vector<std::string>& args, std::string& error) {
    RunnerOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (startsWith(arg, "--home")) {
            auto v = valueOf(args, i, "--home");
            if (!v || v->empty()) {
                error = "--home needs a folder";
                return std::nullopt;
            }
            options.home = *v;
        } else if (startsWith(arg, "--device")) {
            auto v = valueOf(args, i, "--device");
            if (!v || (*v != "phone" && *v != "tablet")) {
                error = "--device must be phone or tablet";
                return std::nullopt;
            }
            options.tablet = *v == "tablet";
        } else if (startsWith(arg, "--services")) {
            auto v = valueOf(args, i, "--services");
            if (!v || !(startsWith(*v, "http://") || startsWith(*v, "https://"))) {
                error = "--services needs an http or https URL";
                return std::nullopt;
            }
            options.servicesURL = *v;
        } else if (startsWith(arg, "--script")) {
            auto v = valueOf(args, i, "--script");
            if (!v || v->empty()) {
                error = "--script needs a file, or - for standard input";
                return std::nullopt;
            }
            options.script = *v;
        } else if (arg == "--launch-push") {
            options.launchPush = platform::Dictionary{};
        } else if (startsWith(arg, "--launch-push=")) {
            auto payload = platform::Value::fromJSON(arg.substr(std::string_view("--launch-push=").size()));
            if (!payload || !payload->dictionary()) {
                error = "--launch-push needs a JSON object";
                return std::nullopt;
            }
            options.launchPush = *payload->dictionary();
        } else if (arg == "--manual-clock") {
            options.manualClock = true;
        } else if (startsWith(arg, "--installed-schemes")) {
            auto v = valueOf(args, i, "--installed-schemes");
            auto schemes = v ? schemeList(*v) : std::nullopt;
            if (!schemes) {
                error = "--installed-schemes needs a comma-separated list of URL schemes";
                return std::nullopt;
            }
            options.installedSchemes = std::move(*schemes);
        } else if (arg == "--console") {
            options.console = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
            return options;
        } else {
            error = "unknown option \"" + arg + "\"";
            return std::nullopt;
        }
    }
    return options;
}

} // namespace runner
