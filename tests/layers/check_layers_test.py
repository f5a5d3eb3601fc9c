#!/usr/bin/env python3
"""Runs scripts/check-layers.py on small source trees, each with one include added."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "check-layers.py"

# A tree of every layer, each file including only what lies below it.
TREE = {
    "model/Value.h": "#include <string>\n",
    "engine/CMakeLists.txt": "tavrolin_folder(engine\n    CORE\n        Builder.cpp\n"
                             "    UI\n        Queue.cpp\n        Queue.h\n"
                             "    LINKS tavrolin_model)\n",
    "engine/Builder.cpp": '#include "model/Value.h"\n',
    "engine/Queue.h": "#include <QObject>\n#include \"model/Value.h\"\n",
    "preview/CMakeLists.txt": "tavrolin_folder(preview\n    CORE\n        Clock.cpp\n"
                              "    UI\n        Player.h\n    LINKS tavrolin_engine)\n",
    "preview/Clock.cpp": '#include "engine/Builder.h"\n',
    "preview/Clock.h": "",
    "preview/Player.h": '#include <QObject>\n#include "widgets/Style.h"\n#include "Clock.h"\n',
    "joinsplit/CMakeLists.txt": "tavrolin_folder(joinsplit\n    CORE\n        Layout.cpp\n"
                                "    UI # the pages\n        JoinView.h\n        SplitView.cpp\n)\n"
                                "tavrolin_module(playback\n    SOURCES Playback.cpp\n"
                                "    LINKS Qt6::Multimedia)\n",
    "joinsplit/Layout.cpp": '#include "engine/Builder.h"\n',
    "joinsplit/Playback.cpp": "#include <QMediaPlayer>\n",
    "joinsplit/JoinView.h": '#include <QWidget>\n#include "widgets/Style.h"\n'
                            '#include "engine/Queue.h"\n',
    "widgets/Style.h": '#include <QFont>\n#include "engine/Queue.h"\n#include "joinsplit/Layout.h"\n',
    "joinsplit/SplitView.cpp": '#include "preview/Player.h"\n#include "preview/Clock.h"\n',
    "remux/RemuxView.h": '#include "widgets/Style.h"\n#include "preview/Player.h"\n',
    "shell/RootView.cpp": '#include "remux/RemuxView.h"\n#include "widgets/Style.h"\n',
}


def run_check(extra):
    with tempfile.TemporaryDirectory() as root:
        src = pathlib.Path(root) / "src"
        # The added lines follow what the tree's file holds.
        for files in (TREE, extra):
            for name, text in files.items():
                path = src / name
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text(path.read_text() + text if path.exists() else text)
        (src / "joinsplit" / "Layout.h").write_text("")
        (src / "engine" / "Builder.h").write_text("")
        done = subprocess.run([sys.executable, str(SCRIPT), str(src)], capture_output=True,
                              text=True, check=False)
        return done.returncode, done.stderr


class LayerCheckTest(unittest.TestCase):
    def test_includes_pointing_up_fail_and_name_the_line(self):
        rows = [
            # (what is added, exit code, words the message holds)
            ({}, 0, []),
            ({"model/Clock.h": "#include <QDateTime>\n"}, 1,
             ["src/model/Clock.h:1", "a core file (no Qt)", "“QDateTime”"]),
            ({"engine/Builder.cpp": '#include "engine/Queue.h"\n'}, 1,
             ["src/engine/Builder.cpp:2", "which is a Qt file below the widget kit"]),
            ({"joinsplit/Layout.cpp": '#include "widgets/Style.h"\n'}, 1,
             ["src/joinsplit/Layout.cpp:2", "which is the widget kit"]),
            ({"engine/Queue.h": '#include "widgets/Style.h"\n'}, 1,
             ["src/engine/Queue.h:3", "Move the piece it needs down into its own folder"]),
            ({"widgets/Style.h": '#include "remux/RemuxView.h"\n'}, 1,
             ["src/widgets/Style.h:4", "the widget kit includes “remux/RemuxView.h”"]),
            ({"widgets/Bar.cpp": '#include "joinsplit/JoinView.h"\n'}, 1,
             ["src/widgets/Bar.cpp:1", "which is a feature"]),
            ({"widgets/Bar.cpp": '#include "preview/Player.h"\n'}, 1,
             ["src/widgets/Bar.cpp:1", "which is the Qt half of a part the features share"]),
            ({"preview/Player.h": '#include "joinsplit/JoinView.h"\n'}, 1,
             ["src/preview/Player.h:4", "a part the features share includes", "a feature"]),
            ({"preview/Clock.cpp": '#include "joinsplit/Layout.h"\n'}, 1,
             ["src/preview/Clock.cpp:2", "a core file (no Qt) in src/preview, a part the "
              "features share", "belongs to a feature (src/joinsplit)"]),
            # Features stand side by side, their Qt halves and their cores alike.
            ({"remux/RemuxView.h": '#include "joinsplit/JoinView.h"\n'}, 1,
             ["src/remux/RemuxView.h:3", "another feature (src/joinsplit)"]),
            ({"joinsplit/Layout.cpp": '#include "transcription/Words.h"\n',
              "transcription/Words.h": ""}, 1,
             ["src/joinsplit/Layout.cpp:2", "features never include each other"]),
            # A header and its .cpp are one file; two such files may not include each other.
            ({"engine/Runner.h": '#include "engine/Steps.h"\n', "engine/Steps.h": "",
              "engine/Steps.cpp": '#include "Runner.h"\n'}, 1,
             ["src/engine: Runner, Steps include each other in a circle"]),
            ({"widgets/Bar.cpp": '#include "shell/RootView.h"\n', "shell/RootView.h": ""}, 1,
             ["src/widgets/Bar.cpp:1", "which is the shell"]),
            ({"remux/RemuxView.h": '#include "shell/RootView.h"\n', "shell/RootView.h": ""}, 1,
             ["src/remux/RemuxView.h:3", "a feature includes “shell/RootView.h”"]),
            ({"joinsplit/JoinView.h": '#include "RootView.h"\n#include "shell/Side.h"\n',
              "shell/Side.h": ""}, 1,
             ["src/joinsplit/JoinView.h:5", "1 include(s) point up"]),
            ({"tools/Helper.h": ""}, 1, ["“src/tools” has no layer"]),
        ]
        for extra, code, words in rows:
            with self.subTest(extra=extra):
                returncode, errors = run_check(extra)
                self.assertEqual(returncode, code, errors)
                for word in words:
                    self.assertIn(word, errors)


if __name__ == "__main__":
    unittest.main()
