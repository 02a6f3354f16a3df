<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Tassio 1.0
一个挂在桌面上摇摆的小伙伴
图画与程序：Tassio 制作组</source>
        <translation>Tassio 1.0
Swinging on your desktop
Art and code: the Tassio team</translation>
    </message>
</context>
<context>
    <name>PictureNameDialog</name>
    <message>
        <source>图片标识符</source>
        <translation>Picture name</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>输入名称：</source>
        <translation>Enter a name:</translation>
    </message>
    <message>
        <source>请填入不多于%1个的字符。</source>
        <translation>Please enter no more than %1 characters.</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>设定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>屏幕</source>
        <translation>Screen</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>振幅：</source>
        <translation>Swing:</translation>
    </message>
    <message>
        <source>摆长：</source>
        <translation>Length:</translation>
    </message>
    <message>
        <source>频率：</source>
        <translation>Period:</translation>
    </message>
    <message>
        <source>始终置顶</source>
        <translation>On top</translation>
    </message>
    <message>
        <source>女孩</source>
        <translation>Girl</translation>
    </message>
    <message>
        <source>男孩</source>
        <translation>Boy</translation>
    </message>
    <message>
        <source>猫</source>
        <translation>Cat</translation>
    </message>
    <message>
        <source>护身符</source>
        <translation>Amulet</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>均匀摇摆</source>
        <translation>Steady</translation>
    </message>
    <message>
        <source>打开图片</source>
        <translation>Add...</translation>
    </message>
    <message>
        <source>删除图片</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>音效设定</source>
        <translation>Sound...</translation>
    </message>
    <message>
        <source>文字</source>
        <translation>Text...</translation>
    </message>
    <message>
        <source>更换图片</source>
        <translation>Swap pic</translation>
    </message>
</context>
<context>
    <name>TextWindow</name>
    <message>
        <source>……（仅显示前 %1 MiB，共 %2 MiB）</source>
        <translation>… (the first %1 MiB of %2 MiB shown)</translation>
    </message>
</context>
<context>
    <name>TassioApp</name>
    <message>
        <source>设定没有保存：以下文件夹都无法写入 Tassio.ini：
%1</source>
        <translation>The settings were not saved: Tassio.ini could not be written in any of these folders:
%1</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>设定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
</context>
</TS>
