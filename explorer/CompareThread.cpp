#include "CompareThread.h"

#include "Comparison.h"

#include <QFile>

#include <algorithm>

CompareThread::CompareThread(const std::string &a, const std::string &b, QObject *parent)
    : QThread(parent)
    , m_a(a)
    , m_b(b)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

CompareThread::~CompareThread()
{
    requestStop();
    wait();
}

std::unique_ptr<Comparison> CompareThread::take()
{
    // done() is sent as run() ends: the worker touches it no more.
    return std::move(m_comparison);
}

void CompareThread::run()
{
    zarnik::CCompareSide::OpenResult a = zarnik::CCompareSide::Open(m_a);
    zarnik::CCompareSide::OpenResult b = a.side ? zarnik::CCompareSide::Open(m_b) : zarnik::CCompareSide::OpenResult{};
    if (!a.side || !b.side || a.side->GetKind() != zarnik::CCompareSide::Kind::Pack) {
        const std::string &why = !a.side ? a.error : !b.side ? b.error : std::string("it is no pack");
        const std::string &which = !b.side && a.side ? m_b : m_a;
        emit done(false, QFile::decodeName(QByteArray::fromStdString(which)) + QStringLiteral(": ")
                             + QString::fromStdString(why));
        return;
    }
    zarnik::CompareSettings settings;
    settings.stop = &m_stop;
    int percent = -1;
    settings.progress = [&](uint64_t done, uint64_t total) {
        const int now = total == 0 ? 100 : int(std::min(done, total) * 100 / total);
        if (now != percent)
            emit progressChanged(percent = now);
    };
    zarnik::CompareResult result = zarnik::CompareSides(*a.side, *b.side, settings);
    if (result.stopped || m_stop.load()) {
        emit done(false, QString());
        return;
    }
    m_comparison = std::make_unique<Comparison>(std::move(a.side), std::move(b.side), std::move(result));
    emit done(true, QString());
}
