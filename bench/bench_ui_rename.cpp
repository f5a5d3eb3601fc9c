// Renaming 5,000 episode files in one folder: planning and the two-phase rename in the core, the
// same through the workspace model, and through the workspace with its screen shown, against a
// shell loop of `mv -n` doing the same two phases (goal: at most 1.5 times the shell's time); and
// the longest time the GUI thread kept an event waiting meanwhile (goal: none over 16 ms).
//
// Usage: bench_ui_rename [file count, default 5000] [runs, default 3]
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchUiSupport.h"
#include "rename/BatchRenamer.h"
#include "rename/RenameView.h"
#include "rename/RenameViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using benchsupport::median;
using benchuisupport::Clock;
using benchuisupport::MeasuringApplication;
using benchuisupport::millisecondsSince;
using benchuisupport::WaitProbe;

namespace {

const RenameRule rule{"Show", 1, 1, 4};

// A fresh folder of `count` small files, listed in episode order.
std::vector<fs::path> makeFiles(const fs::path& folder, int count) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<fs::path> files;
    for (int i = 1; i <= count; ++i) {
        const fs::path file = folder / ("clip " + std::to_string(i) + ".mkv");
        std::ofstream(file) << i;
        files.push_back(file);
    }
    return files;
}

bool renamedAll(const fs::path& folder, int count) {
    char last[64];
    std::snprintf(last, sizeof last, "Show - S0001E%04d.mkv", count);
    return fs::exists(folder / last) && !fs::exists(folder / "clip 1.mkv");
}

// Both phases with one `mv -n` per move, names read from a list as the workspace gets them.
double shellMilliseconds(const fs::path& folder, const std::vector<fs::path>& files) {
    const fs::path list = folder.parent_path() / "list";
    {
        std::ofstream stream(list);
        for (const auto& file : files) {
            stream << file.filename().string() << '\n';
        }
    }
    const std::string script =
        "cd '" + folder.string() +
        "' && i=0 && while IFS= read -r f; do i=$((i+1)); "
        "mv -n -- \"$f\" \".tavrolin-rename-$i.mkv\"; done < '" +
        list.string() +
        "' && "
        "i=0 && while IFS= read -r f; do i=$((i+1)); printf -v n 'Show - S0001E%04d.mkv' \"$i\"; "
        "mv -n -- \".tavrolin-rename-$i.mkv\" \"$n\"; done < '" +
        list.string() + "'";
    std::ofstream(folder.parent_path() / "two-phases.sh") << script << '\n';
    const auto start = Clock::now();
    if (std::system(("bash '" + (folder.parent_path() / "two-phases.sh").string() + "'").c_str()) !=
        0) {
        std::fprintf(stderr, "the shell run failed\n");
    }
    return millisecondsSince(start);
}

double coreMilliseconds(const std::vector<fs::path>& files) {
    BatchRenamer renamer(std::make_shared<LocalFileManager>());
    const auto start = Clock::now();
    renamer.apply(renamer.plan(files, rule));
    return millisecondsSince(start);
}

struct GuiRun {
    double milliseconds = 0;
    double longestWaitMilliseconds = 0;
    double longestEventMilliseconds = 0;
    double longestEventCPUMilliseconds = 0;
    // The call a drop makes, on the GUI thread.
    double addFilesMilliseconds = 0;
};

// Adds the files, types the show name, waits for the plan, renames and waits for the new names.
GuiRun guiRun(MeasuringApplication& application, const std::vector<fs::path>& files,
              bool withScreen) {
    RenameViewModel model(std::make_shared<BatchRenamer>(std::make_shared<LocalFileManager>()));
    std::unique_ptr<RenameView> view;
    if (withScreen) {
        view = std::make_unique<RenameView>(model);
        view->resize(1100, 800);
        view->show();
    }
    QApplication::processEvents();
    const auto settle = [&] {
        while (model.hasPendingWork()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        // The screen's refresh follows in the next turn.
        QApplication::processEvents();
    };
    application.longestEventMilliseconds = 0;
    application.longestEventCPUMilliseconds = 0;
    WaitProbe probe(application);
    const auto start = Clock::now();
    model.addFiles(files);
    const double addFilesMilliseconds = millisecondsSince(start);
    model.setShowName(rule.showName);
    model.setPadding(rule.padding);
    model.refreshPlan();
    settle();
    model.renameAll();
    settle();
    GuiRun run;
    run.milliseconds = millisecondsSince(start);
    run.addFilesMilliseconds = addFilesMilliseconds;
    probe.stop();
    run.longestWaitMilliseconds = probe.longestWaitMilliseconds();
    run.longestEventMilliseconds = application.longestEventMilliseconds;
    run.longestEventCPUMilliseconds = application.longestEventCPUMilliseconds;
    if (model.errorMessage()) {
        std::fprintf(stderr, "the workspace failed: %s\n", model.errorMessage()->c_str());
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    MeasuringApplication application(argc, argv);
    benchsupport::Folder root;
    const fs::path folder = root.path / "Season 1";

    std::vector<double> shell, core, model, screen;
    std::vector<double> modelWait, modelEvent, screenWait, screenEvent, screenEventCPU, adding;
    const auto check = [&](const char* what) {
        if (!renamedAll(folder, count)) {
            std::fprintf(stderr, "%s did not rename every file\n", what);
            std::exit(1);
        }
    };
    for (int run = 0; run < runs; ++run) {
        shell.push_back(shellMilliseconds(folder, makeFiles(folder, count)));
        check("the shell loop");
        core.push_back(coreMilliseconds(makeFiles(folder, count)));
        check("the renamer");
        const GuiRun modelRun = guiRun(application, makeFiles(folder, count), false);
        check("the workspace model");
        model.push_back(modelRun.milliseconds);
        adding.push_back(modelRun.addFilesMilliseconds);
        modelWait.push_back(modelRun.longestWaitMilliseconds);
        modelEvent.push_back(modelRun.longestEventMilliseconds);
        const GuiRun screenRun = guiRun(application, makeFiles(folder, count), true);
        check("the workspace screen");
        screen.push_back(screenRun.milliseconds);
        screenWait.push_back(screenRun.longestWaitMilliseconds);
        screenEvent.push_back(screenRun.longestEventMilliseconds);
        screenEventCPU.push_back(screenRun.longestEventCPUMilliseconds);
    }
    const double shellMedian = median(shell);
    std::printf("%d files, median of %d runs\n", count, runs);
    std::printf("shell loop of mv -n, two phases:  %8.1f ms\n", shellMedian);
    std::printf("renamer, plan + two phases:       %8.1f ms  (%.3f x the shell)\n", median(core),
                median(core) / shellMedian);
    std::printf("workspace model, add to renamed:  %8.1f ms  (%.3f x the shell)\n", median(model),
                median(model) / shellMedian);
    std::printf("  GUI thread: longest event %.1f ms, longest wait of a posted event %.1f ms\n",
                median(modelEvent), median(modelWait));
    std::printf("  adding the files (a drop's call on the GUI thread): %.1f ms\n", median(adding));
    std::printf("workspace with screen:            %8.1f ms  (%.3f x the shell)\n", median(screen),
                median(screen) / shellMedian);
    std::printf("  GUI thread: longest event %.1f ms (CPU %.1f ms), longest wait %.1f ms\n",
                median(screenEvent), median(screenEventCPU), median(screenWait));
    return 0;
}
