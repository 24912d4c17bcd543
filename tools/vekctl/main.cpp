// vekctl — look at a board through the vek library.
//
// The whole command line is parsed and checked before the library is brought
// up, so a rejected command touches no hardware. Without --sim or --board,
// vekctl talks to this machine only; when it is not a supported board vekctl
// says so and exits 3 rather than showing anything else.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "tools/vekctl/vekctl.h"

#ifndef VEK_VERSION_TEXT
#define VEK_VERSION_TEXT "unknown"
#endif

namespace {

using namespace vekctl;

// The subcommand words on a command line, for the envelope of a rejected one.
std::string CommandWords(CLI::App& app, int argc, char** argv) {
    std::string words;
    CLI::App* at = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string w = argv[i];
        if (w == "--board") {
            ++i;
            continue;
        }
        if (w.empty() || w[0] == '-') continue;
        const auto found = at->get_subcommands([&w](CLI::App* sub) { return sub->get_name() == w; });
        if (found.empty()) break;
        CLI::App* sub = found.front();
        words += (words.empty() ? "" : " ") + w;
        at = sub;
    }
    return words;
}

bool JsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--json") == 0) return true;
    return false;
}

// Output lost to a full disk or a closed pipe is a failure: a textfile
// collector must not publish what was never written.
int Flushed(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vekctl: write error: %s\n", std::strerror(errno ? errno : EIO));
        return kExitFailed;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // A closed stdout gives EPIPE on write, reported below, not a silent death.
    signal(SIGPIPE, SIG_IGN);
    CLI::App app{"vekctl — board identity, sensors, GPIO, watchdog and buses through the vek library"};
    app.require_subcommand(0, 1);
    app.fallthrough();
    app.set_version_flag("--version", std::string("vekctl ") + VEK_VERSION_TEXT);
    Global global;
    app.add_option("--board", global.board, "use the simulated board NAME (see 'vekctl boards')")
        ->option_text("NAME")
        ->expected(1)
        ->check(CLI::Validator([](std::string& s) { return s.empty() ? std::string("the board name is empty") : std::string(); },
                               "NAME"));
    app.add_flag("--sim", global.sim, "use the default simulated board");
    app.add_flag("--json", global.json, "machine-readable output (schema vekctl/1)");
    app.footer("Exit status: 0 ok, 1 a library call failed, 2 command line rejected, 3 this machine is "
               "not a supported board.\nSee vekctl(1).");

    Action action; // AddInfo makes 'info' the default
    bool needsBoard = true;
    Registry registry{app, global, &action, &needsBoard};
    AddInfo(registry);
    AddSensors(registry);
    AddGpio(registry);
    AddWdt(registry);
    AddBus(registry);
    AddMetrics(registry);

    const std::string command = CommandWords(app, argc, argv);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return Flushed(app.exit(e));
    } catch (const CLI::CallForAllHelp& e) {
        return Flushed(app.exit(e));
    } catch (const CLI::CallForVersion& e) {
        return Flushed(app.exit(e));
    } catch (const CLI::ParseError& e) {
        SetEnvelope(JsonAsked(argc, argv), command.empty() ? "info" : command);
        return Flushed(UsageError(e.what()));
    }
    SetEnvelope(global.json, command.empty() ? "info" : command);
    try {
        if (global.sim && !global.board.empty()) return Flushed(UsageError("--sim and --board NAME exclude each other"));
        if (!needsBoard) {
            if (global.sim || !global.board.empty())
                return Flushed(UsageError("this command brings up every simulated board itself; --sim and --board do not apply"));
            Session none;
            return Flushed(action(global, none));
        }
        Session session;
        if (const int status = session.Open(global); status != kExitOk) return Flushed(status);
        return Flushed(action(global, session));
    } catch (const std::system_error& e) {
        // fmt reports a failed write this way.
        std::fprintf(stderr, "vekctl: write error: %s\n", e.what());
        return kExitFailed;
    }
}
