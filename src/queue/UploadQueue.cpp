#include "UploadQueue.h"

#include <QComboBox>
#include <QSignalBlocker>

TUploadQueue::TUploadQueue(QComboBox* box, PathStyle style) : m_box(box), m_style(style)
{
    m_box->setEditable(true);
    m_box->setInsertPolicy(QComboBox::NoInsert);
    m_box->setDuplicatesEnabled(true);
    for (int i = 0; i < m_box->count(); ++i)
        IndexAdd(m_box->itemText(i));
}

bool TUploadQueue::Contains(const QString& path) const
{
    return Occurrences(path) > 0;
}

int TUploadQueue::Occurrences(const QString& path) const
{
    const auto it = m_count.find(FoldPathKey(m_style, path.toStdString()));
    return it == m_count.end() ? 0 : it->second;
}

void TUploadQueue::Append(const QString& path)
{
    IndexAdd(path);
    if (m_batchDepth > 0) {
        m_pending.append(path);
        return;
    }
    const QSignalBlocker blocker(m_box);
    m_box->addItem(path);
}

void TUploadQueue::InsertHead(const QString& path)
{
    Flush();
    IndexAdd(path);
    const QSignalBlocker blocker(m_box);
    m_box->insertItem(0, path);
}

void TUploadQueue::RemoveAt(int index)
{
    Flush();
    if (index < 0 || index >= m_box->count())
        return;
    IndexRemove(m_box->itemText(index));
    const QSignalBlocker blocker(m_box);
    m_box->removeItem(index);
}

void TUploadQueue::Clear()
{
    m_pending.clear();
    m_count.clear();
    const QSignalBlocker blocker(m_box);
    m_box->clear();
    m_box->setEditText(QString());
}

int TUploadQueue::Count() const
{
    return m_box->count() + m_pending.size();
}

QString TUploadQueue::At(int index) const
{
    const int inBox = m_box->count();
    if (index < inBox)
        return index < 0 ? QString() : m_box->itemText(index);
    return m_pending.value(index - inBox);
}

QStringList TUploadQueue::Items() const
{
    QStringList items;
    items.reserve(Count());
    for (int i = 0; i < m_box->count(); ++i)
        items.append(m_box->itemText(i));
    items.append(m_pending);
    return items;
}

int TUploadQueue::SelectedIndex() const
{
    return m_box->currentIndex();
}

void TUploadQueue::Select(int index)
{
    Flush();
    const QSignalBlocker blocker(m_box);
    m_box->setCurrentIndex(index);
}

void TUploadQueue::Flush()
{
    if (m_pending.isEmpty())
        return;
    const QStringList items = std::move(m_pending);
    m_pending.clear();
    const QSignalBlocker blocker(m_box);
    m_box->addItems(items);
}

void TUploadQueue::IndexAdd(const QString& path)
{
    ++m_count[FoldPathKey(m_style, path.toStdString())];
}

void TUploadQueue::IndexRemove(const QString& path)
{
    const auto it = m_count.find(FoldPathKey(m_style, path.toStdString()));
    if (it != m_count.end() && --it->second == 0)
        m_count.erase(it);
}
