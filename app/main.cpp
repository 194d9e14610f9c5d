// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

int main(int argc, char** argv) {
    app::Environment environment;
    environment.showFailuresInWindow = true;
    return app::Main(argc, argv, environment);
}
