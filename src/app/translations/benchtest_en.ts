<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>选择保存路径</source>
        <comment>folder chooser title</comment>
        <translation>Choose the result folder</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>保存路径不存在：%1</source>
        <translation>Result folder does not exist: %1</translation>
    </message>
    <message>
        <source>未完成的测试：%1；继续：%2</source>
        <translation>Unfinished run: %1; resume with: %2</translation>
    </message>
    <message>
        <source>自动测试</source>
        <translation>Auto test</translation>
    </message>
    <message>
        <source>正在测试</source>
        <translation>Testing...</translation>
    </message>
    <message>
        <source>退出单步</source>
        <translation>End steps</translation>
    </message>
    <message>
        <source>自动化测试工具 by Ravensel</source>
        <translation>Automated Test Tool by Ravensel</translation>
    </message>
    <message>
        <source>通讯设置</source>
        <translation>Instruments</translation>
    </message>
    <message>
        <source>台式万用表（DMM）</source>
        <translation>Bench multimeter (DMM)</translation>
    </message>
    <message>
        <source>启用</source>
        <translation>On</translation>
    </message>
    <message>
        <source>直流稳压源（PWR）</source>
        <translation>DC power supply (PWR)</translation>
    </message>
    <message>
        <source>数字示波器（OSC）</source>
        <translation>Digital oscilloscope (OSC)</translation>
    </message>
    <message>
        <source>串口 - 待测板（UART）</source>
        <translation>Serial port to the board (UART)</translation>
    </message>
    <message>
        <source>刷新列表</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>测试控制</source>
        <translation>Test control</translation>
    </message>
    <message>
        <source>测试项目</source>
        <translation>Item</translation>
    </message>
    <message>
        <source>测试项，如：TR45K210_DAC</source>
        <translation>Item, e.g. TR45K210_DAC</translation>
    </message>
    <message>
        <source>测试人</source>
        <translation>Tester</translation>
    </message>
    <message>
        <source>测试人，如：XXX，XXX</source>
        <translation>Tester, e.g. XXX, XXX</translation>
    </message>
    <message>
        <source>选择保存路径</source>
        <translation>Result folder</translation>
    </message>
    <message>
        <source>单步</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>测试参数（*所有变量均为INT64型数值）</source>
        <translation>Parameters (*all INT64 values)</translation>
    </message>
    <message>
        <source>int64数值</source>
        <translation>int64 value</translation>
    </message>
    <message>
        <source>测试项</source>
        <translation>Tests</translation>
    </message>
    <message>
        <source>DAC - 串口发送DAC值，万用表采集电压</source>
        <translation>DAC - DAC value over serial, meter reads voltage</translation>
    </message>
    <message>
        <source>ISINK - 串口发送ISINK值，万用表采集电流</source>
        <translation>ISINK - ISINK value over serial, meter reads current</translation>
    </message>
</context>
<context>
    <name>TestKind</name>
    <message>
        <source>1.测试共重复 [*0] 次

2.串口发送4字节%1数据+1字节校验和

3.等待 [*1] ms %1稳定

4.数字万用表采集%2 [*2] 次，每次间隔 [*3] ms

5.单次测试流程完成，%1值+1，循环2~4步

测试设计：Ravensel</source>
        <translation>1. The test repeats [*0] times

2. Send the %1 value over the serial port: 4 bytes and a 1-byte checksum

3. Wait [*1] ms for the %1 output to settle

4. The multimeter measures the %2 [*2] times, [*3] ms apart

5. One pass done: the %1 value + 1, repeat steps 2 to 4

Test design: Ravensel</translation>
    </message>
    <message>
        <source>电压</source>
        <translation>voltage</translation>
    </message>
    <message>
        <source>电流</source>
        <translation>current</translation>
    </message>
</context>
<context>
    <name>RunTexts</name>
    <message>
        <source>进度：--</source>
        <translation>Progress: --</translation>
    </message>
    <message>
        <source>进度：已完成！</source>
        <translation>Progress: finished!</translation>
    </message>
    <message>
        <source>进度：%1%  ( -- )</source>
        <translation>Progress: %1%  ( -- )</translation>
    </message>
    <message>
        <source>进度：%1%  ( %2 )</source>
        <translation>Progress: %1%  ( %2 )</translation>
    </message>
    <message>
        <source>%1 个 ERR 读数</source>
        <translation>%1 ERR cells</translation>
    </message>
    <message>
        <source>%1 个读数不是测量值</source>
        <translation>%1 readings that are not a measurement</translation>
    </message>
    <message>
        <source>%1 个值未发送</source>
        <translation>%1 values not sent</translation>
    </message>
    <message>
        <source>结果文件有 %1 段未写入</source>
        <translation>%1 pieces of the result file not written</translation>
    </message>
    <message>
        <source>结果文件末尾未确认写入磁盘</source>
        <translation>the end of the result file not confirmed on disk</translation>
    </message>
    <message>
        <source>记录未写入（%1）</source>
        <translation>the record not written (%1)</translation>
    </message>
    <message>
        <source>其余结果在 %1</source>
        <translation>the rest of the results in %1</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>finished</translation>
    </message>
    <message>
        <source>在 %1 步（共 %2 步）后停止</source>
        <translation>stopped after %1 of %2 steps</translation>
    </message>
    <message>
        <source>失败：%1</source>
        <translation>failed: %1</translation>
    </message>
    <message>
        <source>，但有：</source>
        <translation> with </translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
</context>
</TS>
