// vekctl — look at a board through the vek library.
//
// The whole command line is parsed and checked before the library is brought
// up, so a rejected command touches no hardware. Without --sim or --board,
// vekctl talks to this machine only; when it is not a supported board vekctl
// says so and exits 3 rather than showing anything else.
#include <cstdio>

#include "tools/vekctl/vekctl.h"

int main(int argc, char** argv) {
    using namespace vekctl;
    CLI::App app{"vekctl — board identity, sensors, GPIO, watchdog and buses through the vek library"};
    app.require_subcommand(0, 1);
    app.fallthrough();
    Global global;
    app.add_option("--board", global.board, "use the simulated board NAME (see 'vekctl boards')")
        ->option_text("NAME")
        ->expected(1);
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e); // prints the message on stderr
        return kExitUsage;
    }
    if (global.sim && !global.board.empty()) return UsageError("--sim and --board NAME exclude each other");
    if (!needsBoard) {
        if (global.sim || !global.board.empty())
            return UsageError("this command brings up every simulated board itself; --sim and --board do not apply");
        Session none;
        return action(global, none);
    }
    Session session;
    if (const int status = session.Open(global); status != kExitOk) return status;
    return action(global, session);
}
