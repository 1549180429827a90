// The pictures of the windows, drawn in code so that no image file has to
// ship beside the program. User-interface thread only (they paint pixmaps).
#pragma once

#include <QIcon>
#include <QPixmap>

// The output-settings tabs' image list: 0..3 a tab at rest (format, device,
// sample video, custom), 4..7 the same tab while active.
QIcon TabIcon(int index);

// The combo image list: 0..8 the nine output formats (3GP ... FLV), 9 the
// profile icon of every preset, brand and model item.
QIcon ComboIcon(int index);

// The large pictures: the add panel's button and the start button (32 x 32).
QPixmap AddPicture();
QPixmap StartPicture();

// Small pictures of the pause, resume and stop buttons and of the folder
// buttons (16 x 16).
QIcon PauseIcon();
QIcon ResumeIcon();
QIcon StopIcon();
QIcon BrowseFolderIcon();
QIcon OpenFolderIcon();
