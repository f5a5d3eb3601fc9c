#pragma once

#include <QGroupBox>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "model/MediaStream.h"
#include "model/RemuxSource.h"

class QLabel;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace tavrolin {

class ElidedLabel;

// One remux source: its name and folder, how far its inspection has come and, once its streams
// are known, one check box per stream grouped by kind with "All"/"None", badges and notes. The
// card shows every row; the page around it scrolls.
// Holds no selection of its own: it shows its inputs and reports clicks through the callbacks.
class StreamSourceCard : public QGroupBox {
    Q_OBJECT

  public:
    explicit StreamSourceCard(QWidget* parent = nullptr);

    std::function<void(std::int64_t index)> onToggleStream;
    std::function<void(MediaStreamKind kind, bool included)> onSetStreams;
    std::function<void()> onRetry;
    std::function<void()> onRemove;

    // Shows the inputs; rebuilds its content only when they differ from the shown ones.
    void setContent(const RemuxSource& source,
                    const std::map<std::int64_t, std::string>& unsupportedStreamMessages,
                    const std::map<std::int64_t, std::string>& convertedSubtitleCodecs);

    // Whether showing these inputs builds the rows anew (more than moving the ticks).
    bool needsRebuild(const RemuxSource& source,
                      const std::map<std::int64_t, std::string>& unsupportedStreamMessages,
                      const std::map<std::int64_t, std::string>& convertedSubtitleCodecs) const;

    const RemuxSource& source() const { return source_; }

  private:
    void rebuildContent();
    void updateTitle();
    QWidget* makeStreamRow(const MediaStream& stream);
    QWidget* makeGroupHeader(MediaStreamKind kind, std::size_t count);

    RemuxSource source_;
    std::map<std::int64_t, std::string> unsupportedStreamMessages_;
    std::map<std::int64_t, std::string> convertedSubtitleCodecs_;
    bool hasContent_ = false;

    ElidedLabel* fileName_;
    ElidedLabel* folder_;
    QLabel* selectedCount_;
    QToolButton* removeButton_;
    QVBoxLayout* contentLayout_;
    QWidget* content_ = nullptr;
};

}  // namespace tavrolin
