#pragma once
#include <QObject>

class HexFile;
class LinkDispatcher;

// The download commands as the main window and "Download&+Run" reach them: puts the HEX
// file in as the current handler, runs the transfer and takes the handler out again.
// Lives beside the window's SerialLink, on its dispatcher:
//   F5 -> download()
//   F7 -> if (download()) <run>
// While isDownloading() the record list is fixed: a reload is refused (HexLoad does it).
class HexDownload : public QObject {
    Q_OBJECT
public:
    HexDownload(LinkDispatcher &link, HexFile &hexFile, QObject *parent = nullptr);

    // One whole transfer; true when every record went through (or the kernel ended it
    // early with 0x03). False as well when another kernel request is still waiting, or the
    // file is being read: then a line says so and nothing is sent.
    bool download();

    bool isDownloading() const;

    // The line written instead of a download while the HEX file is being read.
    static QString notWhileReadingText();

signals:
    // For a progress bar: a transfer of `total` records begins, `sent` of them have gone
    // out, and the transfer is over (the bar goes away).
    void downloadStarted(int total);
    void progressChanged(int sent, int total);
    void downloadFinished(bool ok);

private:
    LinkDispatcher &m_link;
    HexFile &m_hexFile;
};
