#!/usr/bin/env bash
# scripts/check-layers on a small tree of its own: the clean tree passes, and
# each rule, broken by one wrong include, fails with the line named.
# Usage: check_layers_test.sh CHECK_LAYERS
set -uo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failed=0

clean_tree() {
    rm -rf "${tree:?}"/*
    mkdir -p "$tree"/{ToolBox/posix,mfctriext,src/{platform,app,daemon,ctl,gui}}
    printf '#include <cstring>\n' >"$tree/ToolBox/Text.h"
    printf '#include <cstdio>\n' >"$tree/ToolBox/posix/Os.h"
    printf '#include "ToolBox/Text.h"\n' >"$tree/mfctriext/App.h"
    printf '#include <vector>\n#include <mutex>\n#include "ToolBox/Text.h"\n' >"$tree/src/Core.h"
    printf '#include <sys/socket.h>\n#include "Core.h"\n' >"$tree/src/platform/Socket.h"
    printf '#include "platform/Socket.h"\n#include "mfctriext/App.h"\n' >"$tree/src/app/Root.h"
    printf '#include <poll.h>\n#include "app/Root.h"\n#include "Loop.h"\n' >"$tree/src/daemon/Main.h"
    printf '#include <vector>\n' >"$tree/src/daemon/Loop.h"
    printf '#include <cstdio>\n#include "app/Root.h"\n' >"$tree/src/ctl/Main.h"
    printf '#include <QObject>\n#include "app/Root.h"\n' >"$tree/src/gui/Tray.h"
}

# expect_failure WHAT FILE LINE [NAMED]: the line added to FILE must be
# refused, with FILE (or NAMED) in the complaint.
expect_failure() {
    clean_tree
    mkdir -p "$(dirname "$tree/$2")"
    printf '%s\n' "$3" >>"$tree/$2"
    local output
    if output=$("$check" "$tree" 2>&1); then
        echo "FAIL: $1: $2 with $3 passed"
        failed=1
    elif [[ $output != *"${4:-$2}"* ]]; then
        echo "FAIL: $1: the complaint does not name ${4:-$2}: $output"
        failed=1
    fi
}

clean_tree
if ! output=$("$check" "$tree" 2>&1); then
    echo "FAIL: the clean tree is refused: $output"
    failed=1
fi

expect_failure "the core waits on a thread" src/Core.h '#include <thread>'
expect_failure "the core reads files" src/Core.h '#include <fstream>'
expect_failure "the core walks folders" src/Core.h '#include <filesystem>'
expect_failure "the core handles signals" src/Core.h '#include <csignal>'
expect_failure "the core includes an OS header" src/Core.h '#include <unistd.h>'
expect_failure "the core includes Qt" src/Core.h '#include <QString>'
expect_failure "the core reaches the foundation's OS part" src/Core.cpp '#include "ToolBox/posix/Os.h"'
expect_failure "the core reaches the platform" src/Core.cpp '#include "platform/Socket.h"'
expect_failure "the core names a header it does not have" src/Core.cpp '#include "Missing.h"'
expect_failure "the foundation reaches the core" ToolBox/Other.h '#include "Core.h"'
expect_failure "the platform reaches the composition root" src/platform/Bad.h '#include "app/Root.h"'
expect_failure "the platform reaches a front end" src/platform/Bad.h '#include "Loop.h"'
expect_failure "the platform includes Qt" src/platform/Bad.h '#include <QTimer>'
expect_failure "the composition root reaches a front end" src/app/Bad.h '#include "Main.h"'
expect_failure "the composition root includes Qt" src/app/Bad.h '#include <QtCore/QObject>'
expect_failure "the daemon includes Qt" src/daemon/Bad.h '#include <QSocketNotifier>'
expect_failure "a folder without a layer" src/newthing/New.h '#include <vector>' src/newthing
expect_failure "a platform header spelled bare" src/daemon/Bad.cpp '#include "Socket.h"'

[[ $failed == 0 ]] && echo "check-layers: every rule holds"
exit "$failed"
