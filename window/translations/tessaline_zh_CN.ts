<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Tessaline::Reason</name>
    <message>
        <source>the line does not start with a time [h:]m:ss and a title</source>
        <translation>这一行开头不是[时:]分:秒格式的时间和标题</translation>
    </message>
</context>
</TS>
