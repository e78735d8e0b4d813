#include "cli/Cli.hpp"

#include "core/scan/ItemKind.hpp"
#include "core/scan/ItemSort.hpp"

#include <map>
#include <sstream>

namespace ombrelo::cli {

std::string toolHelp() {
    std::string text = "Usage: ombrelo-cli COMMAND [OPTIONS]\n\n"
                       "Ombrelo finds disk space in a home folder that can be given back safely.\n"
                       "It never deletes anything: items only move to the Trash.\n\n"
                       "Commands:\n";
    for (const Command& command : registeredCommands()) {
        std::string name = command.name;
        name.resize(std::max<size_t>(name.size(), 14), ' ');
        text += "  " + name + " " + command.summary + "\n";
    }
    text += "\nRun 'ombrelo-cli COMMAND --help' for a command's options.\n"
            "'ombrelo-cli --man-page' prints this manual as a man page,\n"
            "'ombrelo-cli --completion bash|zsh' a shell completion script and\n"
            "'ombrelo-cli --version' the version.\n"
            "Exit status: 0 success, 1 refused or failed, 2 usage error, 4 a cleanup\n"
            "that stopped before every item moved, 130 interrupted.\n";
    return text;
}

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        out.push_back(line);
    }
    return out;
}

// Text set verbatim in roff: backslashes and hyphens escaped, no line read as a request.
std::string roff(const std::string& line) {
    std::string out = line.empty() || (line[0] != '.' && line[0] != '\'') ? "" : "\\&";
    for (char c : line) {
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    }
    return out;
}

struct Option {
    std::vector<std::string> names; // "-x", "--one-file-system"
    std::string placeholder;        // "DIR", or empty for a flag
    std::string summary;
    bool repeatable = false;
};

// The options a command's help lists under "Options:".
std::vector<Option> optionsOf(const std::string& help) {
    std::vector<Option> options;
    bool inOptions = false;
    const auto all = lines(help);
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string& line = all[i];
        if (line == "Options:") {
            inOptions = true;
            continue;
        }
        if (!inOptions) {
            continue;
        }
        if (line.empty()) {
            break;
        }
        if (line.compare(0, 3, "  -") != 0) {
            continue;
        }
        std::istringstream words(line);
        Option option;
        std::string word;
        while (words >> word) {
            if (word.front() == '-' && option.summary.empty()) {
                option.names.push_back(word.back() == ',' ? word.substr(0, word.size() - 1) : word);
                continue;
            }
            bool upper = word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ-") == std::string::npos;
            if (upper && option.placeholder.empty() && option.summary.empty()) {
                option.placeholder = word;
                continue;
            }
            option.summary += (option.summary.empty() ? "" : " ") + word;
        }
        // The description goes on in the more deeply indented lines below.
        for (size_t next = i + 1; next < all.size() && all[next].compare(0, 4, "    ") == 0 &&
                                  all[next].find_first_not_of(' ') > 4;
             ++next) {
            std::string more = all[next].substr(all[next].find_first_not_of(' '));
            option.summary += (option.summary.empty() ? "" : " ") + more;
        }
        option.repeatable = option.summary.find("repeat") != std::string::npos;
        // Its first clause is the summary a completion menu shows.
        option.summary = option.summary.substr(0, option.summary.find_first_of(";:("));
        while (!option.summary.empty() &&
               (option.summary.back() == ' ' || option.summary.back() == ',' ||
                option.summary.back() == '.')) {
            option.summary.pop_back();
        }
        options.push_back(option);
    }
    return options;
}

// Values offered for an option's placeholder: "folder", "file" or a list of words.
std::string valuesFor(const std::string& option, const std::string& placeholder) {
    if (option == "--kind" || option == "--sort") {
        std::string words;
        auto add = [&](std::string_view value) {
            words += (words.empty() ? "" : " ") + std::string(value);
        };
        if (option == "--kind") {
            for (auto kind : varnok::allItemKinds) {
                add(varnok::textValue(kind));
            }
        } else {
            for (auto sort : varnok::allItemSorts) {
                add(varnok::textValue(sort));
            }
        }
        return words;
    }
    static const std::map<std::string, std::string> choices = {
        {"--mode", "treemap sunburst flame bubbles"},
        {"--source", "known projects duplicates"},
        {"--keep-rule", "first oldest newest shortest-path in:"},
    };
    if (auto it = choices.find(option); it != choices.end()) {
        return it->second;
    }
    if (placeholder == "DIR") {
        return "folder";
    }
    if (placeholder == "FILE" || placeholder == "PATH") {
        return "file";
    }
    return "";
}

std::string bashWords(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words) {
        out += (out.empty() ? "" : " ") + word;
    }
    return out;
}

const char* const reportIdsBash =
    "_ombrelo_cli_reports() {\n"
    "    local folder=\"${XDG_DATA_HOME:-$HOME/.local/share}/Varnok/cleanup-history\" file\n"
    "    local _ombrelo_cli_word _ombrelo_cli_break i\n"
    "    for ((i = 2; i < COMP_CWORD; i++)); do\n"
    "        if [[ ${COMP_WORDS[i]} == --history ]]; then\n"
    "            _ombrelo_cli_dequote \"${COMP_WORDS[i+1]}\"\n"
    "            folder=$_ombrelo_cli_word\n"
    "        fi\n"
    "    done\n"
    "    for file in \"$folder\"/*.json; do\n"
    "        [[ -f $file ]] || continue\n"
    "        file=${file##*/}\n"
    "        printf '%s\\n' \"${file%.json}\"\n"
    "    done\n"
    "}\n\n";

// Names are completed from a glob rather than from compgen's output, which is one name a line:
// a name with a space, a quote or a newline stays one reply, and readline quotes it as it
// inserts it (complete -o filenames).
const char* const pathsBash =
    "# The last word of the text $1 as the shell will read it: backslashes, '...', \"...\" and\n"
    "# $'...' undone. Readline replaces only what follows an unquoted ':' or '=' in it;\n"
    "# _ombrelo_cli_break is the length of what comes before.\n"
    "_ombrelo_cli_dequote() {\n"
    "    local word=$1 c part\n"
    "    local -i i=0 n=${#1}\n"
    "    _ombrelo_cli_word=''\n"
    "    _ombrelo_cli_break=0\n"
    "    while ((i < n)); do\n"
    "        c=${word:i:1}\n"
    "        if [[ $c == \\\\ ]]; then\n"
    "            _ombrelo_cli_word+=${word:i+1:1}\n"
    "            i+=2\n"
    "        elif [[ $c == \"'\" ]]; then\n"
    "            part=${word:i+1}\n"
    "            part=${part%%\\'*}\n"
    "            _ombrelo_cli_word+=$part\n"
    "            i+=${#part}+2\n"
    "        elif [[ $c == '$' && ${word:i+1:1} == \"'\" ]]; then\n"
    "            part=''\n"
    "            i+=2\n"
    "            while ((i < n)) && [[ ${word:i:1} != \"'\" ]]; do\n"
    "                if [[ ${word:i:1} == \\\\ && ${word:i+1:1} == \"'\" ]]; then\n"
    "                    part+=\"'\"\n"
    "                    i+=2\n"
    "                elif [[ ${word:i:1} == \\\\ ]]; then\n"
    "                    part+=${word:i:2}\n"
    "                    i+=2\n"
    "                else\n"
    "                    part+=${word:i:1}\n"
    "                    i+=1\n"
    "                fi\n"
    "            done\n"
    "            printf -v part '%b' \"$part\"\n"
    "            _ombrelo_cli_word+=$part\n"
    "            i+=1\n"
    "        elif [[ $c == '\"' ]]; then\n"
    "            i+=1\n"
    "            while ((i < n)) && [[ ${word:i:1} != '\"' ]]; do\n"
    "                c=${word:i:1}\n"
    "                if [[ $c == \\\\ && ${word:i+1:1} == [\\\\\\\"\\$\\`] ]]; then\n"
    "                    c=${word:i+1:1}\n"
    "                    i+=1\n"
    "                fi\n"
    "                _ombrelo_cli_word+=$c\n"
    "                i+=1\n"
    "            done\n"
    "            i+=1\n"
    "        elif [[ $c == [[:blank:]] ]]; then\n"
    "            _ombrelo_cli_word=''\n"
    "            _ombrelo_cli_break=0\n"
    "            i+=1\n"
    "        else\n"
    "            _ombrelo_cli_word+=$c\n"
    "            [[ $c == [:=] && $COMP_WORDBREAKS == *$c* ]] &&\n"
    "                _ombrelo_cli_break=${#_ombrelo_cli_word}\n"
    "            i+=1\n"
    "        fi\n"
    "    done\n"
    "    if [[ $_ombrelo_cli_word == \"~\" || $_ombrelo_cli_word == \"~/\"* ]]; then\n"
    "        _ombrelo_cli_word=$HOME${_ombrelo_cli_word:1}\n"
    "        ((_ombrelo_cli_break > 0)) && _ombrelo_cli_break+=${#HOME}-1\n"
    "    fi\n"
    "}\n\n"
    "# Files (or with d, folders only) whose path starts with the word $2.\n"
    "_ombrelo_cli_paths() {\n"
    "    local path reset _ombrelo_cli_word\n"
    "    local -i _ombrelo_cli_break\n"
    "    reset=$(shopt -p nullglob failglob)\n"
    "    shopt -s nullglob\n"
    "    shopt -u failglob\n"
    "    if [[ -n ${COMP_LINE-} ]]; then\n"
    "        _ombrelo_cli_dequote \"${COMP_LINE:0:COMP_POINT}\"\n"
    "    else\n"
    "        _ombrelo_cli_dequote \"$2\"\n"
    "    fi\n"
    "    COMPREPLY=()\n"
    "    for path in \"$_ombrelo_cli_word\"*; do\n"
    "        [[ $1 == d && ! -d $path ]] && continue\n"
    "        COMPREPLY+=(\"${path:_ombrelo_cli_break}\")\n"
    "    done\n"
    "    eval \"$reset\"\n"
    "}\n\n";

std::string bashScript() {
    std::string script = "# bash completion for ombrelo-cli; made by 'ombrelo-cli --completion "
                         "bash'\n\n";
    script += reportIdsBash;
    script += pathsBash;
    std::vector<std::string> names;
    for (const Command& command : registeredCommands()) {
        names.push_back(command.name);
    }
    script += "_ombrelo_cli() {\n"
              "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
              "    COMPREPLY=()\n"
              "    if ((COMP_CWORD == 1)); then\n"
              "        COMPREPLY=($(compgen -W '" +
              bashWords(names) +
              " --help --version --man-page --completion' -- \"$cur\"))\n"
              "        return\n"
              "    fi\n"
              "    if [[ ${COMP_WORDS[1]} == --completion ]]; then\n"
              "        COMPREPLY=($(compgen -W 'bash zsh' -- \"$cur\"))\n"
              "        return\n"
              "    fi\n"
              "    local options='' operand=''\n"
              "    case ${COMP_WORDS[1]} in\n";
    for (const Command& command : registeredCommands()) {
        std::vector<std::string> optionNames;
        std::string patterns;
        for (const Option& option : optionsOf(command.help)) {
            optionNames.insert(optionNames.end(), option.names.begin(), option.names.end());
            if (!option.placeholder.empty()) {
                patterns += "|";
            }
        }
        script += "    " + command.name + ")\n";
        if (!patterns.empty()) {
            std::string cases;
            for (const Option& option : optionsOf(command.help)) {
                if (option.placeholder.empty()) {
                    continue;
                }
                std::string values = valuesFor(option.names.back(), option.placeholder);
                std::string reply = values == "folder" ? "_ombrelo_cli_paths d \"$cur\""
                                    : values == "file" ? "_ombrelo_cli_paths f \"$cur\""
                                    : values.empty()
                                        ? ""
                                        : "COMPREPLY=($(compgen -W '" + values + "' -- \"$cur\"))";
                std::string label;
                for (const auto& name : option.names) {
                    label += (label.empty() ? "" : "|") + name;
                }
                cases += "        " + label + ")" +
                         (reply.empty() ? " return ;;\n" : " " + reply + "; return ;;\n");
            }
            script += "        case $prev in\n" + cases + "        esac\n";
        }
        script += "        options='" + bashWords(optionNames) + "'\n";
        script += "        operand='" + command.operand + "' ;;\n";
    }
    script += "    *) return ;;\n"
              "    esac\n"
              "    if [[ $cur == -* ]]; then\n"
              "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
              "        return\n"
              "    fi\n"
              "    case $operand in\n"
              "    folder) _ombrelo_cli_paths d \"$cur\" ;;\n"
              "    path) _ombrelo_cli_paths f \"$cur\" ;;\n"
              "    report)\n"
              "        local word given=''\n"
              "        for word in \"${COMP_WORDS[@]:2:COMP_CWORD-2}\"; do\n"
              "            [[ $word =~ ^[0-9A-Fa-f-]{4,}$ ]] && given=1\n"
              "        done\n"
              "        if [[ -z $given ]]; then\n"
              "            COMPREPLY=($(compgen -W \"$(_ombrelo_cli_reports)\" -- \"$cur\"))\n"
              "        else\n"
              "            _ombrelo_cli_paths f \"$cur\"\n"
              "        fi ;;\n"
              "    esac\n"
              "}\n"
              "complete -o filenames -F _ombrelo_cli ombrelo-cli\n";
    return script;
}

// Text safe inside a zsh _arguments description.
std::string zshText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '[' || c == ']') {
            out += c == '[' ? '(' : ')';
        } else if (c == '\'') {
            out += "'\\''";
        } else if (c == ':') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string zshScript() {
    std::string script =
        "#compdef ombrelo-cli\n"
        "# zsh completion for ombrelo-cli; made by 'ombrelo-cli --completion zsh'\n\n"
        "_ombrelo_cli_reports() {\n"
        "    local -a ids\n"
        "    local folder=${XDG_DATA_HOME:-$HOME/.local/share}/Varnok/cleanup-history\n"
        "    local given=${words[(I)--history]}\n"
        "    ((given)) && folder=${(Q)words[given+1]}\n"
        "    ids=(\"$folder\"/*.json(N:t:r))\n"
        "    _describe 'report id' ids\n"
        "}\n\n"
        "_ombrelo_cli() {\n"
        "    local -a commands\n"
        "    commands=(\n";
    for (const Command& command : registeredCommands()) {
        script += "        '" + command.name + ":" + zshText(command.summary) + "'\n";
    }
    script += "    )\n"
              "    if ((CURRENT == 2)); then\n"
              "        _describe command commands\n"
              "        return\n"
              "    fi\n"
              "    local command=$words[2]\n"
              "    shift words\n"
              "    ((CURRENT--))\n"
              "    case $command in\n";
    for (const Command& command : registeredCommands()) {
        script += "    " + command.name + ")\n        _arguments -s";
        for (const Option& option : optionsOf(command.help)) {
            std::string action;
            if (!option.placeholder.empty()) {
                std::string values = valuesFor(option.names.back(), option.placeholder);
                action = ":" + option.placeholder + ":" +
                         (values == "folder" ? "_files -/"
                          : values == "file" ? "_files"
                          : values.empty()   ? " "
                                             : "(" + values + ")");
            }
            const bool repeatable = option.repeatable;
            for (const auto& name : option.names) {
                script += " \\\n            '" + std::string(repeatable ? "*" : "") + name + "[" +
                          zshText(option.summary) + "]" + action + "'";
            }
        }
        if (command.operand == "folder") {
            script += " \\\n            '*:folder:_files -/'";
        } else if (command.operand == "path") {
            script += " \\\n            '*:path:_files'";
        } else if (command.operand == "report") {
            script += " \\\n            '1:report id:_ombrelo_cli_reports' \\\n            "
                      "'2:original path:_files'";
        }
        script += " ;;\n";
    }
    script += "    esac\n"
              "}\n\n"
              "_ombrelo_cli \"$@\"\n";
    return script;
}

// The sections after the commands, in roff.
const char* const manualTail =
    ".SH EXIT STATUS\n"
    ".TP\n"
    ".B 0\n"
    "Success. A command that lists something also exits 0 when there is nothing to list.\n"
    ".TP\n"
    ".B 1\n"
    "The request was refused or failed; the reason is on stderr. For history, also when some\n"
    "report files could not be read (the readable ones are still listed).\n"
    ".TP\n"
    ".B 2\n"
    "Usage error: an unknown command or option, a missing or extra operand, a bad value.\n"
    "The usage line and a hint are printed on stderr.\n"
    ".TP\n"
    ".B 4\n"
    "clean stopped before every item moved (the Trash refused one, or an item changed on the\n"
    "way); what did move is recorded and can be restored.\n"
    ".TP\n"
    ".B 130\n"
    "Interrupted with Ctrl\\-C. A cleanup that is interrupted records what it moved.\n"
    ".SH ENVIRONMENT\n"
    ".TP\n"
    ".B HOME\n"
    "The home folder that cleanup\\-scan and clean look in when no \\-\\-home is given, and\n"
    "under which the caches are looked for (~/.cache, ~/.config, ~/.var/app and the package\n"
    "managers' folders). When unset or relative, the home folder of the user's account.\n"
    ".TP\n"
    ".B XDG_DATA_HOME\n"
    "Where the cleanup history ($XDG_DATA_HOME/Varnok/cleanup\\-history) and the home Trash\n"
    "($XDG_DATA_HOME/Trash) are; ~/.local/share when unset or relative.\n"
    ".TP\n"
    ".BR XDG_CACHE_HOME \", \" XDG_CONFIG_HOME\n"
    "Not read: the caches of known applications are looked for where those applications\n"
    "keep them by default, under ~/.cache and ~/.config.\n"
    ".TP\n"
    ".B TMPDIR\n"
    "The temporary folder (/tmp when unset): items in it may be looked at and moved even\n"
    "when it lies below a system folder, as /var/tmp does.\n"
    ".TP\n"
    ".B TZ\n"
    "The time zone of the local times in text output and of the ISO 8601 times (with\n"
    "their offset) in JSON output.\n"
    ".SH JSON OUTPUT\n"
    "Every \\-\\-json document is one object with a top\\-level \"version\" (1 for the\n"
    "shapes below; it changes when a field is removed or changes meaning; new fields may\n"
    "appear without it changing). Times are ISO 8601 local times with their offset, as\n"
    "\"2026\\-12\\-07T09:41:07+01:00\". Sizes are bytes: \"logicalSize\" the apparent size,\n"
    "\"allocatedSize\" the bytes on disk. Paths are text; a name that is not UTF\\-8 has its\n"
    "other bytes shown as U+FFFD there, while the \"id\" and \"url\" fields keep every byte\n"
    "percent\\-encoded as file URLs.\n"
    ".TP\n"
    ".B scan\n"
    "{version, root, inaccessiblePaths, skippedCount, ageSizes, typeSizes, duration}: root is\n"
    "the tree, each node with id, isDirectory, isSymbolicLink, logicalSize, allocatedSize,\n"
    "fileCount, folderCount, hasReadErrors, children and identity (the raw stat record:\n"
    "device, inode, mode, linkCount, size and times as seconds and nanoseconds since 1970);\n"
    "repeatedLink marks the later paths of a hard\\-linked file, whose blocks count at its\n"
    "first path. A scan read with \\-\\-load adds savedScan (file, takenAt, writer).\n"
    ".TP\n"
    ".BR cleanup\\-scan \", \" detect\n"
    "{version, candidates, unreadable, ...}: each candidate with path, url, title, category,\n"
    "isDirectory, logicalSize, allocatedSize, fileCount, modified, evidence, projectPath,\n"
    "owners (the applications whose data it is), keeper (null but for duplicates) and, for\n"
    "cleanup\\-scan, runningApps (open now, to be closed first) and manualOnly (true when\n"
    "clean \\-\\-all leaves it out); with \\-\\-tree also tree, the scanned node as in scan.\n"
    "cleanup\\-scan adds home, checkedLocations and checkedFiles (each file counted once);\n"
    "detect adds leftOutByPolicy.\n"
    ".TP\n"
    ".B find\n"
    "{version, folder, matchCount, unreadableCount, items, highlights, otherFileSystems}:\n"
    "each item with id, path, name, isDirectory, logicalSize, allocatedSize, modified, kind,\n"
    "kindGroup, mimeType and, for folders, fileCount; savedScan with \\-\\-load.\n"
    ".TP\n"
    ".B map\n"
    "{version, placements}: in drawing order, each with id, name, logicalSize, depth,\n"
    "ancestors and the geometry of the mode; savedScan with \\-\\-load.\n"
    ".TP\n"
    ".B duplicates\n"
    "{version, groups, hashedFiles, bytesHashed, skippedFiles, leftOutByPolicy, duration,\n"
    "extraSize}: each group with id, extraSize and files (scanned nodes).\n"
    ".TP\n"
    ".B diff\n"
    "{version, old, new, oldTotal, newTotal, change, changeCount, changes}: each change with\n"
    "path, status (new, gone, grew, shrank), isDirectory, oldSize, newSize, change and\n"
    "ownChange.\n"
    ".TP\n"
    ".B history\n"
    "{version, folder, reports, unreadable}: each report as its history file holds it (id,\n"
    "startedAt, finishedAt, outcomes, ...) with ISO 8601 times, each outcome with an\n"
    "availability object (state, canRestore, canRevealInTrash, message); unreadable lists\n"
    "{path, reason} for each file of the folder that is not a readable report. The stored\n"
    "files themselves keep their own format.\n"
    ".SH FILES\n"
    ".TP\n"
    ".I $XDG_DATA_HOME/Varnok/cleanup\\-history/ID.json\n"
    "One report per cleanup (by default under ~/.local/share). Read by history and restore.\n"
    ".TP\n"
    ".I $XDG_DATA_HOME/Trash\n"
    "The home Trash, where clean moves items (items on another mount go to that mount's\n"
    "Trash). Ombrelo never empties it.\n"
    ".SH EXAMPLES\n"
    "Look for caches and old logs in your home folder, then move two of them to the Trash:\n"
    ".PP\n"
    ".nf\n"
    ".RS\n"
    "ombrelo\\-cli cleanup\\-scan\n"
    "ombrelo\\-cli clean ~/.cache/thumbnails ~/.config/Slack/Cache\n"
    ".RE\n"
    ".fi\n"
    ".PP\n"
    "See what a cleanup moved and put one item back, giving the start of the report id:\n"
    ".PP\n"
    ".nf\n"
    ".RS\n"
    "ombrelo\\-cli history\n"
    "ombrelo\\-cli restore 3F2A ~/.cache/thumbnails\n"
    ".RE\n"
    ".fi\n"
    ".PP\n"
    "The twenty largest items below a folder, without entering other mounts:\n"
    ".PP\n"
    ".nf\n"
    ".RS\n"
    "ombrelo\\-cli find \\-x \\-\\-limit 20 ~/Projects\n"
    ".RE\n"
    ".fi\n"
    ".PP\n"
    "The paths and sizes of the suggestions, for a script:\n"
    ".PP\n"
    ".nf\n"
    ".RS\n"
    "ombrelo\\-cli cleanup\\-scan \\-\\-json | jq \\-r '.candidates[] | \"\\e(.logicalSize) "
    "\\e(.path)\"'\n"
    ".RE\n"
    ".fi\n"
    ".PP\n"
    "Byte\\-identical files in Pictures, keeping the oldest copy of each when cleaning:\n"
    ".PP\n"
    ".nf\n"
    ".RS\n"
    "ombrelo\\-cli duplicates ~/Pictures\n"
    "ombrelo\\-cli clean \\-\\-source duplicates \\-\\-in ~/Pictures \\-\\-keep\\-rule oldest "
    "\\-\\-all\n"
    ".RE\n"
    ".fi\n";

} // namespace

std::string manualPage() {
    std::string page = ".TH OMBRELO-CLI 1 \"\" \"ombrelo-cli 0.1.0\" \"User Commands\"\n"
                       ".SH NAME\n"
                       "ombrelo\\-cli \\- find disk space that can be given back safely\n"
                       ".SH SYNOPSIS\n"
                       ".B ombrelo\\-cli\n"
                       ".I COMMAND\n"
                       "[\\fIOPTIONS\\fR]\n"
                       ".SH DESCRIPTION\n"
                       ".nf\n";
    for (const std::string& line : lines(toolHelp())) {
        page += roff(line) + "\n";
    }
    page += ".fi\n.SH COMMANDS\n";
    for (const Command& command : registeredCommands()) {
        page += ".SS " + roff(command.name) + "\n" + roff(command.summary) + ".\n.PP\n.nf\n";
        for (const std::string& line : lines(command.help)) {
            page += roff(line) + "\n";
        }
        page += ".fi\n";
    }
    page += manualTail;
    page += ".SH SEE ALSO\n"
            ".BR du (1),\n"
            ".BR trash\\-list (1)\n";
    return page;
}

std::string completionScript(const std::string& shell) {
    if (shell == "bash") {
        return bashScript();
    }
    if (shell == "zsh") {
        return zshScript();
    }
    return "";
}

} // namespace ombrelo::cli
