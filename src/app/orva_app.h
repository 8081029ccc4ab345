// Entry point of the program. main() only calls orva_app_main, so that tests
// run the whole start-up in one process.
#ifndef ORVA_APP_ORVA_APP_H
#define ORVA_APP_ORVA_APP_H

#include <functional>

struct orva_app_hooks {
    // Called when everything is set up, just before the event loop runs.
    std::function<void()> before_event_loop;
};

// The program: returns the event loop's exit code, or -1 when the module could
// not be opened or prepared.
int orva_app_main(int argc, char **argv);
int orva_app_run(int argc, char **argv, const orva_app_hooks &hooks);

#endif
