#include "hexfile/HexDownload.h"

#include "core/StatusSink.h"
#include "hexfile/HexFile.h"
#include "link/LinkDispatcher.h"

#include <memory>

HexDownload::HexDownload(LinkDispatcher &link, HexFile &hexFile, QObject *parent)
    : QObject(parent), m_link(link), m_hexFile(hexFile)
{
}

bool HexDownload::download()
{
    // The records are about to be replaced by the read; the new ones are not complete yet.
    if (m_hexFile.isReading()) {
        StatusSink &status = m_link.status();
        if (status.lineOpen())
            status.appendStatus(QString(), true);
        status.appendStatus(notWhileReadingText(), true);
        return false;
    }
    // A second wait on the line would read the other exchange's answers.
    if (!m_link.beginExchange())
        return false;

    // The one HexFile object outlives every exchange, so the handler reference owns nothing.
    const std::shared_ptr<LinkHandler> handler(std::shared_ptr<LinkHandler>(), &m_hexFile);
    m_link.setCurrentHandler(handler);
    const int total = m_hexFile.recordCount();
    emit downloadStarted(total);
    const bool ok = m_hexFile.send(m_link, [this, total](int sent) { emit progressChanged(sent, total); });
    m_link.releaseHandler(&m_hexFile);
    emit downloadFinished(ok);
    return ok;
}

bool HexDownload::isDownloading() const
{
    return m_hexFile.isDownloading();
}

QString HexDownload::notWhileReadingText()
{
    return QStringLiteral("WARNING: The hex file is still being read. Nothing was downloaded; try again when it has ended");
}
