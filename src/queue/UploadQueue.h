#pragma once

#include "PathRules.h"

#include <QString>
#include <QStringList>

#include <string>
#include <unordered_map>

class QComboBox;

/// The upload queue: the item list of the upload-file box, item 0 the head, with an index that
/// makes the "already queued?" test constant-time. Every change to the items goes through this
/// class, or the index falls out of step. The changes emit none of the box's signals, so no
/// change handler runs in the middle of one: the caller runs the mapping afterwards.
class TUploadQueue
{
public:
    /// Takes over box (not owned): editable, no insertion by the user, unsorted. Items the box
    /// already holds are indexed.
    TUploadQueue(QComboBox* box, PathStyle style = NativePathStyle());
    TUploadQueue(const TUploadQueue&) = delete;
    TUploadQueue& operator=(const TUploadQueue&) = delete;

    /// Whether an item equals path under the style's comparison (exact on POSIX).
    bool Contains(const QString& path) const;
    /// How many items equal path under the style's comparison.
    int Occurrences(const QString& path) const;

    /// Appends path at the end, also when it is queued already. Inside a Batch the box receives
    /// it when the batch ends or at the next Flush(); Count() and At() include it at once.
    void Append(const QString& path);
    /// Puts path in front of the head.
    void InsertHead(const QString& path);
    /// Removes item index; out-of-range indexes are ignored. The box's text follows the box's
    /// own rule: another item becomes current, or the text empties with the last item.
    void RemoveAt(int index);
    /// Removes every item and empties the text.
    void Clear();

    int Count() const;
    QString At(int index) const;
    /// All items in queue order.
    QStringList Items() const;

    /// The selected item, or -1.
    int SelectedIndex() const;
    /// Selects item index (or nothing with -1); its path becomes the box's text.
    void Select(int index);

    /// Hands the items appended in the current batch to the box in one insertion.
    void Flush();

    /// Collects appends for one insertion into the box (when the outermost batch ends).
    class Batch
    {
    public:
        explicit Batch(TUploadQueue& queue) : m_queue(queue) { ++m_queue.m_batchDepth; }
        ~Batch()
        {
            if (--m_queue.m_batchDepth == 0)
                m_queue.Flush();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        TUploadQueue& m_queue;
    };

    QComboBox* Box() const { return m_box; }
    PathStyle Style() const { return m_style; }

private:
    void IndexAdd(const QString& path);
    void IndexRemove(const QString& path);

    QComboBox* m_box;
    PathStyle m_style;
    std::unordered_map<std::string, int> m_count; // folded path -> number of items
    QStringList m_pending;                        // appended, not yet in the box
    int m_batchDepth = 0;
};
