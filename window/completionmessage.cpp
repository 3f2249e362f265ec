#include "completionmessage.h"

#include <QDir>

#include <cerrno>

namespace Tessaline {

namespace {

constexpr qsizetype kListedFailures = 10; // failed files named in the completion message

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString quoted(const QString &line)
{
    return u"“" + line + u"”";
}

// The system's reason for a failed read or write: the common ones in Chinese, any other in the
// system's words.
QString systemReason(const Failure &failure)
{
    switch (failure.systemError) {
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case EROFS:
        return QStringLiteral("文件系统只读");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case EISDIR:
        return QStringLiteral("是文件夹");
    default:
        return failure.detail;
    }
}

// Where a time failed: its line, or the chapter of a format without lines.
QString timePlace(const Failure &failure)
{
    return failure.line > 0 ? QStringLiteral("第%1行").arg(failure.line)
                            : QStringLiteral("第%1章").arg(failure.chapter);
}

} // namespace

QString failureText(const Failure &failure)
{
    switch (failure.kind) {
    case Failure::Kind::NotChapterListName:
        return QStringLiteral("不是可读取的章节格式，文件名也不以.txt结尾");
    case Failure::Kind::UndecodableName:
        return QStringLiteral("文件名无法解码");
    case Failure::Kind::UnsupportedCodePage:
        return QStringLiteral("不支持代码页%1").arg(failure.detail);
    case Failure::Kind::IsFolder:
        return QStringLiteral("是文件夹，不是章节文件");
    case Failure::Kind::IsSpecialFile:
        return QStringLiteral("不是普通文件（管道、设备或套接字），未读取");
    case Failure::Kind::ReadFailed:
        return QStringLiteral("无法读取（%1）").arg(systemReason(failure));
    case Failure::Kind::ChangedWhileRead:
        return QStringLiteral("读取时文件发生了变化，未写入");
    case Failure::Kind::UnreadableTime:
        return timePlace(failure) + u"的时间无法换算：" + quoted(failure.detail);
    case Failure::Kind::TimeOutOfRange:
        return timePlace(failure) + u"的时间换算后超出范围：" + quoted(failure.detail);
    case Failure::Kind::OutputIsLink:
        return QStringLiteral("输出文件“%1”是符号链接，未写入").arg(nativePath(failure.output));
    case Failure::Kind::OutputIsInput:
        return QStringLiteral("输出文件“%1”就是输入文件本身，未写入").arg(nativePath(failure.output));
    case Failure::Kind::OutputIsAnotherInput:
        return QStringLiteral("输出文件“%1”也是本次转换的输入，未写入").arg(nativePath(failure.output));
    case Failure::Kind::OutputShared:
        return QStringLiteral("输出文件“%1”与“%2”的输出相同，未写入")
            .arg(nativePath(failure.output), nativePath(failure.detail));
    case Failure::Kind::WriteFailed:
        return QStringLiteral("无法写入“%1”（%2）").arg(nativePath(failure.output), systemReason(failure));
    case Failure::Kind::BadInput: {
        const QString place = failure.line > 0 ? QStringLiteral("第%1行").arg(failure.line)
            : failure.offset >= 0              ? QStringLiteral("第%1字节处").arg(failure.offset)
                                               : QString();
        return place + u"无法读取：" + failure.detail;
    }
    case Failure::Kind::NoChapters:
        return QStringLiteral("没有章节");
    case Failure::Kind::ModuleUnavailable:
        return QStringLiteral("无法加载读取此格式的模块（%1）").arg(failure.detail);
    case Failure::Kind::TooManyChapters:
        return QStringLiteral("无法转换：%1").arg(failure.detail);
    case Failure::Kind::TooManyToEdit:
        return QStringLiteral("有%1个章节，超过可编辑的%2个").arg(failure.chapter).arg(failure.detail);
    }
    return {};
}

QString failureLine(const Failure &failure)
{
    if (failure.path.isEmpty())
        return failureText(failure);
    return nativePath(failure.path) + u"：" + failureText(failure);
}

CompletionMessage completionMessage(const ConvertReport &report)
{
    QString text = u"已成功转换" + QString::number(report.converted) + u"个文件";
    if (report.cancelled)
        text += u"\n已取消：其余" + QString::number(report.notConverted) + u"个文件未转换";
    if (report.runFailure)
        text += u'\n' + failureLine(*report.runFailure) + u"，未转换任何文件"; // the video to snap to named
    const qsizetype listed = std::min(kListedFailures, report.failures.size());
    for (const Failure &failure : report.failures.first(listed))
        text += u'\n' + failureLine(failure);
    if (const qsizetype unlisted = report.failures.size() - listed; unlisted > 0)
        text += u"\n……另有" + QString::number(unlisted) + u"个文件未能转换";
    for (const TitleCountMismatch &mismatch : report.titleMismatches) {
        text += u'\n' + nativePath(mismatch.path)
            + QStringLiteral("：有%1个章节，名称框有%2行").arg(mismatch.chapters).arg(mismatch.titles);
    }
    const QStringList &replaced = report.replacedCharacters;
    if (!replaced.isEmpty()) {
        text += QStringLiteral("\n以下文件中有ANSI代码页无法表示的字符，已写为“?”：");
        for (const QString &path : replaced.first(std::min(kListedFailures, replaced.size())))
            text += u'\n' + nativePath(path);
        if (replaced.size() > kListedFailures)
            text += u"\n……另有" + QString::number(replaced.size() - kListedFailures) + u"个文件";
    }
    const QList<FileWarning> &warnings = report.warnings;
    if (!warnings.isEmpty()) {
        text += QStringLiteral("\n以下文件的输出有提示：");
        for (const FileWarning &warning : warnings.first(std::min(kListedFailures, warnings.size())))
            text += u'\n' + nativePath(warning.path) + u"：" + warning.text;
        if (warnings.size() > kListedFailures)
            text += u"\n……另有" + QString::number(warnings.size() - kListedFailures) + u"条提示";
    }
    if (report.failures.isEmpty() && !report.runFailure && !report.cancelled) {
        const QString title = !replaced.isEmpty() ? QStringLiteral("部分字符已替换")
            : !warnings.isEmpty()                 ? QStringLiteral("已转换，有提示")
                                                  : QStringLiteral("成功");
        return {title, text, !replaced.isEmpty() || !warnings.isEmpty()};
    }
    return {report.cancelled ? QStringLiteral("已取消") : QStringLiteral("未能全部转换"), text, true};
}

} // namespace Tessaline
