#include "runtime/FileListBox.h"

#include "platform/FileNames.h"
#include "runtime/Application.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>

TFileListBox::TFileListBox(const QString& mask, QWidget* parent) : QListWidget(parent), mask_(mask)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

bool TFileListBox::SetDirectory(const std::string& folder)
{
    clear();
    if (!DirectoryExists(folder))
        return false;
    directory_ = folder;
    SetCurrentDir(folder);
    QDir dir(QString::fromStdString(folder));
    const QStringList patterns = mask_.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    dir.setNameFilters(patterns);
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    for (const QString& name : dir.entryList()) {
        auto* item = new QListWidgetItem(name, this);
        if (itemHeight_ > 0)
            item->setSizeHint(QSize(0, itemHeight_));
    }
    return true;
}

void TFileListBox::SetItemHeight(int height)
{
    itemHeight_ = height;
    for (int i = 0; i < count(); i++)
        item(i)->setSizeHint(QSize(0, height));
}

QString TFileListBox::FileName() const
{
    const QListWidgetItem* item = currentItem();
    return item ? item->text() : QString();
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* event)
{
    QListWidget::mouseReleaseEvent(event);
    // Any left click in the list counts, also one below the last name (the
    // handler then finds no file, as with the platform's list).
    if (event->button() != Qt::LeftButton)
        return;
    Guarded([this] {
        if (OnClick)
            OnClick();
    });
}

void TFileListBox::keyPressEvent(QKeyEvent* event)
{
    // Moving the selection with the keys counts as a click, as with the
    // platform's list.
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before)
        Guarded([this] {
            if (OnClick)
                OnClick();
        });
}
