// The sample make-sample writes when given no description: a phone's worth of
// disks, folders and files in a 32 MiB dump. `make-sample --print-desc`
// prints it, as a start for descriptions of one's own.
//
// A size drawn from a range depends on the line its statement stands on: the
// statements with ranges keep their lines (9, 11, 14, 33, 35, 36, 41 and 42)
// so that the sample's files keep their sizes as the sample grows.
#ifndef QUARN_TOOLS_SAMPLE_DEFAULT_SAMPLE_H
#define QUARN_TOOLS_SAMPLE_DEFAULT_SAMPLE_H

namespace quarn::sample {

inline constexpr const char *kDefaultDescription =
    R"(# Quarn's sample dump: three disks with file systems, two EEPROM disks.
seed 1
firmware size=10M
disk FFS blocks=96 blocksize=64k  # the main disk: files of many sizes over parts and blocks
dir /Pictures date=2024-05-01 time=09:00:00
dir /Sounds date=2024-05-01 time=09:00:02
dir /Java
file /Pictures/wallpaper.gif size=12345 part=4000
file /Pictures/Photo_###.jpg count=40 size=20k-90k part=8k date=2024-05-02 time=18:24:10
file /Pictures/写真.png size=5000 part=1000 spread
file "/Pictures/Отпуск 2024/море_##.jpg" count=6 size=30k-60k part=8k spread date=2024-07-21
file /Sounds/Музыка/песня.mp3 size=700k part=16k spread date=2023-12-31 time=23:59:58
file /Sounds/alarm.amr size=1
file /Sounds/ring##.mid count=12 size=2k-16k part=4k
file /Java/Jar/game.jar size=150k part=4k
file /Java/Jar/game.jad size=300 text
file /Java/Data/deep/deeper/deepest/save.dat size=64
dir /Java/Data/empty
file /Misc/notes.txt size=3000 text part=1000
file /Misc/empty.dat size=0
file "/Misc/Zürich café.txt" size=500 text
file /Misc/plain-as-utf8.txt size=10 text utf8
file /Misc/readonly.txt size=40 text attr=0x21
deleted /Misc/old.log size=50k part=2k
dead count=3
file /Misc/after-dead.txt size=2000 text
dir /Trip deleted date=2024-08-11 time=21:40:00  # a folder deleted with its photos
deleted /Trip/beach.jpg size=30k part=8k date=2024-08-10 time=12:31:08
deleted /Trip/harbour.jpg size=20k part=8k spread date=2024-08-10 time=18:02:44
file /Misc/todo.txt size=5000 part=1000 text reuse  # in the part ids harbour.jpg freed
file /Misc/diary.txt size=4000 part=1500 text rewritten date=2024-08-12 time=08:15:00
disk FFS_B blocks=48 blocksize=128k shuffle  # larger blocks, listed out of address order
file /Video/clip#.3gp count=6 size=300k-700k part=32k date=2024-03-08 time=14:00:00
file /Video/long.3gp size=900k part=100k spread
file /Themes/theme##.zip count=10 size=20k-80k part=16k
file /Animations/anim##.gif count=30 size=1k-8k

# Small blocks, many small files, chunks no file holds (they show under
# LostBlocks) and files whose folder is gone (under LostFiles).
disk FFS_C blocks=256 blocksize=4k
file /Data/rec###.dat count=200 size=100-3000 part=2k
file /SMS/Inbox/sms###.txt count=150 size=60-600 text date=2024-01-10
file /SMS/???? size=42 text
deleted /SMS/draft.txt size=900 text
dead count=2
lost id=60001 size=100
lost id=60010-60012 size=16-400
orphan stray.txt size=300 text
orphan "stray part.dat" size=5000 part=2k
deleted /SMS/outbox.txt size=1200 text erased  # its block erased since

# The EEPROM disks: every chunk outside a file system is an EEPROM block.
disk EELITE blocks=4 blocksize=64k noroot
eeprom id=0-59 size=8-400 ver=0-5
eeprom id=300 size=0
disk EEFULL blocks=8 blocksize=64k
eeprom id=0-119 size=16-1200 ver=0-9
)";

}  // namespace quarn::sample

#endif
