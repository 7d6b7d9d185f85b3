#include "engine/TestKind.h"

#include <QCoreApplication>

namespace {

const char *const kDescription =
    QT_TRANSLATE_NOOP("TestKind", "1.测试共重复 [*0] 次\n\n"
                                  "2.串口发送4字节%1数据+1字节校验和\n\n"
                                  "3.等待 [*1] ms %1稳定\n\n"
                                  "4.数字万用表采集%2 [*2] 次，每次间隔 [*3] ms\n\n"
                                  "5.单次测试流程完成，%1值+1，循环2~4步\n\n"
                                  "测试设计：Ravensel");

} // namespace

QString TestKind::description() const
{
    return QCoreApplication::translate("TestKind", kDescription)
        .arg(valueName, QCoreApplication::translate("TestKind", quantity));
}

const TestKind &dacTestKind()
{
    static const TestKind kind{
        QStringLiteral("DAC - 串口发送DAC值，万用表采集电压"),
        QStringLiteral("DAC"),
        QT_TRANSLATE_NOOP("TestKind", "电压"),
        {QStringLiteral("*CLS"), QStringLiteral("CONF:VOLT:DC"), QStringLiteral("VOLT:DC:NPLC 10"),
         QStringLiteral("VOLT:DC:IMP:AUTO ON"), QStringLiteral("VOLT:DC:RANG 10")},
    };
    return kind;
}

const TestKind &isinkTestKind()
{
    static const TestKind kind{
        QStringLiteral("ISINK - 串口发送ISINK值，万用表采集电流"),
        QStringLiteral("ISINK"),
        QT_TRANSLATE_NOOP("TestKind", "电流"),
        {QStringLiteral("*CLS"), QStringLiteral("CONF:CURR:DC"), QStringLiteral("CURR:DC:NPLC 10"),
         QStringLiteral("CURR:DC:RANG 0.001")},
    };
    return kind;
}
