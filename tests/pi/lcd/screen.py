#!/usr/bin/python3
"""Reads the LCD test's screen dumps (binary PPM) cell by cell of the console font.

  screen.py pairs DUMP CELL_W CELL_H NAME:LINE:COLUMN:WIDTH ...
      For each named run of text cells (line and column counted from 1), the two colours
      drawn there: the background (the commoner) and the foreground, with their WCAG 2
      contrast ratio, one line each: NAME FG BG RATIO. Fails unless each run shows exactly
      two colours.
  screen.py cell DUMP CELL_W CELL_H LINE COLUMN
      Prints the number of colours in one cell (1: blank, no cursor on it).
  screen.py layout INI WIDTH HEIGHT CELL_W CELL_H
      Checks that the menu, status and clock lines of the configuration lie wholly on a
      WIDTH x HEIGHT pixel screen and outside its small preview window (PREVIEW_SMALL,
      x,y,width,height after its option).
"""
import re
import sys


def read_ppm(path):
    data = open(path, "rb").read()
    fields, position = [], 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b"#":
            position = data.index(b"\n", position)
            continue
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit("not an 8-bit binary PPM: " + path)
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[position + 1:position + 1 + 3 * width * height]


def colours_in(dump, left, top, width, height):
    image_width, image_height, pixels = dump
    counts = {}
    for y in range(top, min(top + height, image_height)):
        row = 3 * (y * image_width)
        for x in range(left, min(left + width, image_width)):
            colour = tuple(pixels[row + 3 * x:row + 3 * x + 3])
            counts[colour] = counts.get(colour, 0) + 1
    return counts


def luminance(colour):
    def linear(value):
        value /= 255.0
        return value / 12.92 if value <= 0.04045 else ((value + 0.055) / 1.055) ** 2.4
    red, green, blue = (linear(value) for value in colour)
    return 0.2126 * red + 0.7152 * green + 0.0722 * blue


def contrast(first, second):
    lighter, darker = sorted((luminance(first), luminance(second)), reverse=True)
    return (lighter + 0.05) / (darker + 0.05)


def hex_colour(colour):
    return "#%02x%02x%02x" % colour


def pairs(arguments):
    dump = read_ppm(arguments[0])
    cell_width, cell_height = int(arguments[1]), int(arguments[2])
    good = True
    for run in arguments[3:]:
        name, line, column, width = run.split(":")
        counts = colours_in(dump, (int(column) - 1) * cell_width, (int(line) - 1) * cell_height,
                            int(width) * cell_width, cell_height)
        if len(counts) != 2:
            print("%s %d colours" % (name, len(counts)))
            good = False
            continue
        background, foreground = sorted(counts, key=counts.get, reverse=True)
        print("%s %s %s %.2f" % (name, hex_colour(foreground), hex_colour(background),
                                 contrast(foreground, background)))
    return 0 if good else 1


def cell(arguments):
    dump = read_ppm(arguments[0])
    cell_width, cell_height = int(arguments[1]), int(arguments[2])
    line, column = int(arguments[3]), int(arguments[4])
    print(len(colours_in(dump, (column - 1) * cell_width, (line - 1) * cell_height,
                         cell_width, cell_height)))
    return 0


def layout(arguments):
    keys = {}
    for text in open(arguments[0]):
        match = re.match(r"\s*([A-Z_]+)\s*=\s*(.*?)\s*$", text)
        if match:
            keys[match.group(1)] = match.group(2)  # the last line of a key counts
    width, height = int(arguments[1]), int(arguments[2])
    cell_width, cell_height = int(arguments[3]), int(arguments[4])
    columns, lines = width // cell_width, height // cell_height
    top, left = int(keys["BORDER_TOP"]), int(keys["BORDER_LEFT"])
    item_width, item_height = int(keys["ITEM_WIDTH"]), int(keys["ITEM_HEIGHT"])
    window = re.search(r"(\d+),(\d+),(\d+),(\d+)\s*$", keys["PREVIEW_SMALL"])
    if window is None:
        print("PREVIEW_SMALL names no window: " + keys["PREVIEW_SMALL"])
        return 1
    x, y, w, h = (int(value) for value in window.groups())
    rows = (lines - top) // item_height
    last_menu_line = top + item_height * (2 * (rows // 2) - 1) + 1
    used = [("status", 1), ("clock", lines - 1)] + [
        ("menu", line) for line in range(top + item_height, last_menu_line + 1)]
    good = x + w <= width and y + h <= height
    if not good:
        print("the preview window %dx%d+%d+%d is not on the screen" % (w, h, x, y))
    for name, line in used:
        box = ((left - 1) * cell_width, (line - 1) * cell_height,
               (left - 1 + item_width) * cell_width, line * cell_height)
        on_screen = box[2] <= width and box[3] <= height and box[0] >= 0
        overlaps = box[0] < x + w and x < box[2] and box[1] < y + h and y < box[3]
        if not on_screen or overlaps:
            print("%s line %d: %s" % (name, line, "under the preview" if overlaps else
                                      "off the screen"))
            good = False
    print("%s: %d x %d characters, %d menu rows, menu columns %d-%d, preview %d,%d,%d,%d: %s" %
          (arguments[0], columns, lines, rows, left, left + item_width - 1, x, y, w, h,
           "fits" if good else "DOES NOT FIT"))
    return 0 if good else 1


if __name__ == "__main__":
    commands = {"pairs": pairs, "cell": cell, "layout": layout}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    sys.exit(commands[sys.argv[1]](sys.argv[2:]))
