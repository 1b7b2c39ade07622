#include "board/KernelSim.h"

#include "mcs51/HexImage.h"

namespace {
constexpr char kVersion = 0x01;
constexpr char kDownload = 0x02;
constexpr char kRun = 0x03;
constexpr quint8 kAccepted = 0x02;
constexpr quint8 kComplete = 0x03;
constexpr quint8 kResend = 0x04;
constexpr quint8 kRefused = 0x06;

int hexByte(const QByteArray &text, int at)
{
    return mcs51::hexDigit(text.at(at)) * 16 + mcs51::hexDigit(text.at(at + 1));
}
} // namespace

class KernelSim::Output : public BoardOutput {
public:
    explicit Output(KernelSim &sim) : m_sim(sim) {}
    void send(const QByteArray &bytes) override
    {
        if (m_sim.m_cb.output && m_sim.m_mode == Mode::Running)
            m_sim.m_cb.output(bytes);
    }

private:
    KernelSim &m_sim;
};

KernelSim::KernelSim(quint8 major, quint8 minor, quint8 patch, KernelFaults faults, Callbacks callbacks,
                     std::unique_ptr<BoardProgram> program)
    : m_version{major, minor, patch}, m_faults(faults), m_cb(std::move(callbacks)), m_program(std::move(program)),
      m_out(std::make_unique<Output>(*this))
{
}

KernelSim::~KernelSim() = default;

void KernelSim::receive(const QByteArray &bytes)
{
    if (m_mode == Mode::Running) {
        m_program->receive(bytes, *m_out);
        return;
    }
    for (int i = 0; i < bytes.size() && m_mode != Mode::Pulled; ++i) {
        receiveByte(bytes.at(i));
        if (m_mode == Mode::Running && i + 1 < bytes.size()) {
            // The line now belongs to the program, also for the rest of this chunk.
            m_program->receive(bytes.mid(i + 1), *m_out);
            return;
        }
    }
}

int KernelSim::tick()
{
    return m_mode == Mode::Running ? m_program->tick(*m_out) : -1;
}

void KernelSim::answer(quint8 code, QByteArray rest)
{
    if (m_faults.silent || !m_cb.reply)
        return;
    m_cb.reply(QByteArray(1, char(code)) + rest);
}

void KernelSim::refuse()
{
    answer(kRefused);
    m_recordText.clear();
    m_mode = Mode::Command;
}

void KernelSim::receiveByte(char byte)
{
    switch (m_mode) {
    case Mode::Command:
        command(byte);
        return;
    case Mode::Download:
        if (m_recordText.isEmpty()) {
            if (byte == ':') {
                m_recordText.append(byte);
            } else if (byte == kVersion || byte == kDownload || byte == kRun) {
                // The host gave up on the download and asks for something new.
                m_mode = Mode::Command;
                command(byte);
            } else {
                refuse();
            }
            return;
        }
        if (mcs51::hexDigit(byte) < 0) {
            refuse();
            return;
        }
        m_recordText.append(byte);
        if (m_recordText.size() >= 3 && m_recordText.size() == 11 + 2 * hexByte(m_recordText, 1))
            recordComplete();
        return;
    case Mode::Running:
    case Mode::Pulled:
        return;
    }
}

void KernelSim::command(char byte)
{
    const auto code = [this](char request) {
        return m_faults.firstByte >= 0 ? quint8(m_faults.firstByte) : quint8(request);
    };
    switch (byte) {
    case kVersion:
        answer(code(kVersion), QByteArray(reinterpret_cast<const char *>(m_version), 3));
        return;
    case kDownload:
        m_mode = Mode::Download;
        m_recordText.clear();
        m_record = 1;
        m_resendDone = false;
        m_memory.entry.reset(); // a start address belongs to the file that named it
        answer(code(kDownload));
        return;
    case kRun:
        answer(code(kRun));
        m_mode = Mode::Running;
        m_program->start(m_memory, *m_out);
        return;
    default:
        return; // a real kernel ignores what it does not know
    }
}

void KernelSim::recordComplete()
{
    const QByteArray text = m_recordText;
    m_recordText.clear();

    if (m_faults.pullAt == m_record) {
        m_mode = Mode::Pulled;
        if (m_cb.pull)
            m_cb.pull();
        return;
    }
    if (m_faults.refuseAt == m_record) {
        refuse();
        return;
    }
    if (m_faults.resendAt == m_record && !m_resendDone) {
        m_resendDone = true;
        answer(kResend);
        return;
    }

    const int count = hexByte(text, 1);
    int sum = 0;
    for (int i = 1; i < text.size(); i += 2)
        sum += hexByte(text, i);
    if ((sum & 0xFF) != 0) {
        ++m_checksumErrors;
        answer(kResend);
        return;
    }

    const int address = hexByte(text, 3) * 256 + hexByte(text, 5);
    const int type = hexByte(text, 7);
    if (type == 0x00) {
        for (int i = 0; i < count; ++i)
            m_memory.code[(address + i) & 0xFFFF] = char(hexByte(text, 9 + 2 * i));
        m_memory.loaded = true;
    } else if (type == 0x03 || type == 0x05) {
        // The same entry rule the core's own HEX loader follows.
        if (const auto image = mcs51::HexImage::parse(text.toStdString()); image && image->entry)
            m_memory.entry = image->entry;
    }
    ++m_record;
    if (type == 0x01) {
        m_mode = Mode::Command;
        answer(kComplete);
        return;
    }
    answer(kAccepted);
}
