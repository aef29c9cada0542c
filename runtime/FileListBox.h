// TFileListBox: a list of the files of one folder that match a mask such as
// "*.bmp;*.jpg;*.jpeg". Pointing it at a folder also makes that folder the
// process's current directory, as the platform's file list control does.
// Names are listed sorted, case-insensitively; the mask ignores case.
#pragma once
#include <QListWidget>

#include <functional>
#include <string>

class TFileListBox : public QListWidget {
public:
    TFileListBox(const QString& mask, QWidget* parent = nullptr);

    // Lists the folder; returns false (and lists nothing) when it does not
    // exist. The current directory changes only when it does.
    bool SetDirectory(const std::string& folder);
    const std::string& Directory() const { return directory_; }
    QString Mask() const { return mask_; }
    void SetItemHeight(int height);
    // The selected bare name, empty when none is selected.
    QString FileName() const;

    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString mask_;
    std::string directory_;
    int itemHeight_ = 0;
};
