#include "widgets/OutputFolderRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

OutputFolderRow::OutputFolderRow(std::function<void()> choose, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* heading = new QLabel(QStringLiteral("Output folder"), this);
    heading->setTextFormat(Qt::PlainText);
    heading->setFont(fontFor(TextStyle::headline));
    texts->addWidget(heading);
    path_ = new ElidedLabel(this);
    path_->setObjectName(QStringLiteral("outputFolderPath"));
    path_->setFont(fontFor(TextStyle::caption));
    texts->addWidget(path_);
    row->addLayout(texts, 1);

    choose_ = new QPushButton(QStringLiteral("Choose…"), this);
    choose_->setObjectName(QStringLiteral("chooseOutputFolder"));
    connect(choose_, &QPushButton::clicked, this, [choose = std::move(choose)] {
        if (choose) {
            choose();
        }
    });
    row->addWidget(choose_);
    setDirectory(std::nullopt);
}

void OutputFolderRow::setDirectory(const std::optional<std::filesystem::path>& directory,
                                   const std::optional<std::string>& problem) {
    directory_ = directory;
    const QString problemText = problem ? QString::fromStdString(*problem) : QString();
    path_->setToolTip(problemText);
    path_->setAccessibleDescription(problemText);
    if (directory) {
        path_->setText(toQString(*directory));
        path_->setTextColor(problem ? tint::orange() : secondaryTextColor(palette()));
    } else {
        path_->setText(QStringLiteral("No folder selected"));
        path_->setTextColor(tint::orange());
    }
}

}  // namespace tavrolin
