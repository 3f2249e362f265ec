<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Reason</name>
    <message>
        <source>ChapterAtom elements nest deeper than %1 levels</source>
        <translation>ChapterAtom元素嵌套超过%1层</translation>
    </message>
    <message>
        <source>the elements nest deeper than %1 levels</source>
        <translation>元素嵌套超过%1层</translation>
    </message>
    <message>
        <source>the DOCTYPE declares the entity %1: chapter XML uses only XML&apos;s predefined entities and character references</source>
        <translation>DOCTYPE声明了实体%1：章节XML只使用XML预定义的实体和字符引用</translation>
    </message>
    <message>
        <source>the entity &amp;%1; is not defined</source>
        <translation>实体&amp;%1;未定义</translation>
    </message>
</context>
<context>
    <name>Tessaline::Reason</name>
    <message>
        <source>the line does not start with a time [h:]m:ss and a title</source>
        <translation>这一行开头不是[时:]分:秒格式的时间和标题</translation>
    </message>
    <message>
        <source>a second FILE (the first is on line %1): each FILE is timed from its own start, and without the files&apos; lengths its tracks cannot be placed</source>
        <translation>出现第二个FILE（第一个在第%1行）：每个FILE从其自身开头计时，不知道各文件的长度就无法确定音轨的位置</translation>
    </message>
    <message>
        <source>INDEX &quot;%1&quot; is not a number and a time mm:ss:ff</source>
        <translation>INDEX“%1”不是“编号 分:秒:帧”的形式</translation>
    </message>
    <message>
        <source>INDEX time &quot;%1&quot; is not mm:ss:ff</source>
        <translation>INDEX的时间“%1”不是分:秒:帧的形式</translation>
    </message>
    <message>
        <source>a TRACK without INDEX 01</source>
        <translation>有一个TRACK没有INDEX 01</translation>
    </message>
    <message>
        <source>a program chain has cells but no table of them</source>
        <translation>有一个节目链含有单元，却没有单元表</translation>
    </message>
    <message>
        <source>a cell&apos;s playing time has no frame rate</source>
        <translation>有一个单元的播放时间没有帧率</translation>
    </message>
    <message>
        <source>a chapter refers to a program chain that is not there</source>
        <translation>有一个章节指向不存在的节目链</translation>
    </message>
    <message>
        <source>a chapter refers to a program or cell that is not there</source>
        <translation>有一个章节指向不存在的节目或单元</translation>
    </message>
    <message>
        <source>too large for a title set&apos;s IFO</source>
        <translation>文件太大，不可能是标题集的IFO</translation>
    </message>
    <message>
        <source>this is the disc&apos;s menu IFO (VIDEO_TS.IFO), which holds no chapters; read a title set&apos;s VTS_nn_0.IFO</source>
        <translation>这是光盘的菜单IFO（VIDEO_TS.IFO），其中没有章节；请读取标题集的VTS_nn_0.IFO</translation>
    </message>
    <message>
        <source>two entries of a program chain table point at one chain, which the DVD library cannot read safely</source>
        <translation>节目链表中有两项指向同一个节目链，DVD库无法安全读取</translation>
    </message>
    <message>
        <source>a table of the title set ends past the end of the file</source>
        <translation>标题集中有一个表超出了文件末尾</translation>
    </message>
    <message>
        <source>cannot copy the IFO to a temporary folder: %1</source>
        <translation>无法把IFO复制到临时文件夹：%1</translation>
    </message>
    <message>
        <source>not a readable title set IFO</source>
        <translation>不是可读取的标题集IFO</translation>
    </message>
    <message>
        <source>title %1 was asked for; the title set has %2</source>
        <translation>要求读取第%1个标题，而标题集只有%2个</translation>
    </message>
    <message>
        <source>the title has no chapters</source>
        <translation>该标题没有章节</translation>
    </message>
    <message>
        <source>TIMEBASE &quot;%1&quot; is not a fraction num/den</source>
        <translation>TIMEBASE“%1”不是“分子/分母”形式的分数</translation>
    </message>
    <message>
        <source>START &quot;%1&quot; is not a whole number</source>
        <translation>START“%1”不是整数</translation>
    </message>
    <message>
        <source>a [CHAPTER] without START</source>
        <translation>有一个[CHAPTER]没有START</translation>
    </message>
    <message>
        <source>the first line is not %1</source>
        <translation>第一行不是%1</translation>
    </message>
    <message>
        <source>no Segment after the EBML header</source>
        <translation>EBML头之后没有Segment</translation>
    </message>
    <message>
        <source>the file has no chapters</source>
        <translation>文件中没有章节</translation>
    </message>
    <message>
        <source>an element is damaged or runs past the element or file that holds it</source>
        <translation>有一个元素已损坏，或超出了包含它的元素或文件</translation>
    </message>
    <message>
        <source>an element&apos;s value has a size it cannot have</source>
        <translation>有一个元素的值大小不合理</translation>
    </message>
    <message>
        <source>an element&apos;s size runs past the file</source>
        <translation>有一个元素的大小超出了文件末尾</translation>
    </message>
    <message>
        <source>no EBML header</source>
        <translation>没有EBML头</translation>
    </message>
    <message>
        <source>the EBML document is neither Matroska nor WebM</source>
        <translation>该EBML文档既不是Matroska也不是WebM</translation>
    </message>
    <message>
        <source>the SeekHead points where no such element is</source>
        <translation>SeekHead指向的位置没有对应的元素</translation>
    </message>
    <message>
        <source>edition %1 was asked for; the file has %2</source>
        <translation>要求读取第%1个版本，而文件只有%2个</translation>
    </message>
    <message>
        <source>edition %1 has no chapters</source>
        <translation>第%1个版本没有章节</translation>
    </message>
    <message>
        <source>a ChapterAtom without ChapterTimeStart</source>
        <translation>有一个ChapterAtom没有ChapterTimeStart</translation>
    </message>
    <message>
        <source>ChapterAtoms are nested more than %1 levels deep</source>
        <translation>ChapterAtom嵌套超过%1层</translation>
    </message>
    <message>
        <source>the library refused the file (%1)</source>
        <translation>读取库拒绝了该文件（%1）</translation>
    </message>
    <message>
        <source>%1 holds an element, %2, where only text is read</source>
        <translation>%1中只应有文本，却含有元素%2</translation>
    </message>
    <message>
        <source>ChapterTimeStart &quot;%1&quot; is not a time [HH:]MM:SS.nnnnnnnnn</source>
        <translation>ChapterTimeStart“%1”不是[时:]分:秒.纳秒形式的时间</translation>
    </message>
    <message>
        <source>the root element is %1, not Chapters</source>
        <translation>根元素是%1，不是Chapters</translation>
    </message>
    <message>
        <source>there is no edition %1; the file has %2</source>
        <translation>没有第%1个版本，文件只有%2个</translation>
    </message>
    <message>
        <source>libavformat cannot read it (%1)</source>
        <translation>libavformat无法读取（%1）</translation>
    </message>
    <message>
        <source>libavformat takes it for %1, and only single media files are read</source>
        <translation>libavformat认为它是%1，而只读取单个媒体文件</translation>
    </message>
    <message>
        <source>chapter %1 has no usable time base</source>
        <translation>第%1章没有可用的时间基准</translation>
    </message>
    <message>
        <source>the playlist ends before its %1</source>
        <translation>播放列表在%1之前就结束了</translation>
    </message>
    <message>
        <source>play list address</source>
        <translation>播放列表地址</translation>
    </message>
    <message>
        <source>play item count</source>
        <translation>播放项数目</translation>
    </message>
    <message>
        <source>play item length</source>
        <translation>播放项长度</translation>
    </message>
    <message>
        <source>play item IN time</source>
        <translation>播放项的入点时间</translation>
    </message>
    <message>
        <source>play item OUT time</source>
        <translation>播放项的出点时间</translation>
    </message>
    <message>
        <source>play item %1 ends before it starts</source>
        <translation>播放项%1的结束早于开始</translation>
    </message>
    <message>
        <source>not a Blu-ray playlist: it does not start with MPLS0100, MPLS0200 or MPLS0300</source>
        <translation>不是蓝光播放列表：开头不是MPLS0100、MPLS0200或MPLS0300</translation>
    </message>
    <message>
        <source>mark list address</source>
        <translation>标记列表地址</translation>
    </message>
    <message>
        <source>mark count</source>
        <translation>标记数目</translation>
    </message>
    <message>
        <source>mark time</source>
        <translation>标记时间</translation>
    </message>
    <message>
        <source>mark type</source>
        <translation>标记类型</translation>
    </message>
    <message>
        <source>mark&apos;s play item</source>
        <translation>标记所属的播放项</translation>
    </message>
    <message>
        <source>mark %1 refers to a play item that is not there</source>
        <translation>标记%1指向不存在的播放项</translation>
    </message>
    <message>
        <source>mark %1 lies before its play item&apos;s IN time</source>
        <translation>标记%1早于其播放项的入点时间</translation>
    </message>
    <message>
        <source>mark %1 lies past its play item&apos;s OUT time</source>
        <translation>标记%1晚于其播放项的出点时间</translation>
    </message>
    <message>
        <source>the playlist has no entry marks</source>
        <translation>播放列表中没有入口标记</translation>
    </message>
    <message>
        <source>not a time line (CHAPTERnn=HH:MM:SS.mmm): &quot;%1&quot;</source>
        <translation>不是时间行（CHAPTERnn=HH:MM:SS.mmm）：“%1”</translation>
    </message>
    <message>
        <source>the first line is not WEBVTT</source>
        <translation>第一行不是WEBVTT</translation>
    </message>
    <message>
        <source>a block that is neither a cue nor a NOTE, STYLE or REGION</source>
        <translation>有一个块既不是字幕提示，也不是NOTE、STYLE或REGION</translation>
    </message>
    <message>
        <source>the timing line &quot;%1&quot; is not [hh:]mm:ss.ttt --&gt; [hh:]mm:ss.ttt</source>
        <translation>时间行“%1”不是[时:]分:秒.毫秒 --&gt; [时:]分:秒.毫秒的形式</translation>
    </message>
    <message>
        <source>%1 cannot be loaded: %2</source>
        <translation>无法加载%1：%2</translation>
    </message>
    <message>
        <source>the program&apos;s own folder cannot be found</source>
        <translation>找不到程序自身所在的文件夹</translation>
    </message>
    <message>
        <source>%1 is missing</source>
        <translation>缺少%1</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>%1 is of version %2, not %3</source>
        <translation>%1的版本是%2，不是%3</translation>
    </message>
    <message>
        <source>%1 has no %2</source>
        <translation>%1中没有%2</translation>
    </message>
    <message>
        <source>%1 holds at most %2 chapters</source>
        <translation>%1 最多容纳 %2 个章节</translation>
    </message>
    <message>
        <source>the file has no video stream</source>
        <translation>文件中没有视频流</translation>
    </message>
    <message>
        <source>the keyframe that its index places at byte %1 is not there</source>
        <translation>索引指向字节%1处的关键帧不在那里</translation>
    </message>
    <message>
        <source>the file has no index of its keyframes, and only Matroska files are read whole for them</source>
        <translation>文件没有关键帧索引，只有Matroska文件才会整个读取以找出关键帧</translation>
    </message>
    <message>
        <source>its index lists %1 keyframes among %2 packets, more than are sought</source>
        <translation>其索引在%2个数据包中列出%1个关键帧，超出可查找的数量</translation>
    </message>
    <message>
        <source>the video sites want the first timestamp at 0:00; the first chapter starts at %1</source>
        <translation>视频网站要求第一个时间戳为0:00；第一个章节开始于%1</translation>
    </message>
    <message>
        <source>the video sites want %1 timestamps or more; the list has %2</source>
        <translation>视频网站要求至少%1个时间戳；列表只有%2个</translation>
    </message>
    <message>
        <source>the video sites want chapters of %1 s or more; chapter %2 runs from %3 to %4</source>
        <translation>视频网站要求章节至少%1秒；第%2章从%3到%4</translation>
    </message>
    <message>
        <source>this build reads no media files</source>
        <translation>此版本不读取媒体文件</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <source>chapter %1 at %2 is not snapped: no keyframe in the %3 ms before it (the nearest: %4 before, %5 after)</source>
        <translation>第%1章（%2）：之前%3毫秒内没有关键帧（最近的：之前%4，之后%5）</translation>
    </message>
    <message>
        <source>the TimestampScale is 0</source>
        <translation>TimestampScale 为 0</translation>
    </message>
    <message>
        <source>a CueTime lies past any time a chapter can have</source>
        <translation>CueTime 超出章节可有的任何时间</translation>
    </message>
</context>
</TS>
