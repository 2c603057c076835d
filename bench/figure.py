"""The fight, drawn: when the service answered a program that switches sleep prevention on again
at a given pace, one row a pace, as a small SVG that reads on light and dark pages alike (no
background, mid-tone colours). bench/run --figure PATH writes it from the fights it measured."""
from xml.sax.saxutils import escape

WIDTH, LEFT, RIGHT, ROW = 640, 150, 20, 34


def svg(rows, seconds, note):
    """ROWS: (label, times in seconds); SECONDS: the time axis; NOTE: a line under it."""
    top = 14
    height = top + ROW * len(rows) + 44
    scale = (WIDTH - LEFT - RIGHT) / seconds
    x = lambda s: LEFT + s * scale
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
        f'viewBox="0 0 {WIDTH} {height}" '
        'font-family="-apple-system, Segoe UI, Helvetica, Arial, sans-serif" '
        'font-size="12" fill="#8b949e">'
    ]
    for i, (label, times) in enumerate(rows):
        y = top + ROW * i + ROW / 2
        out.append(
            f'<text x="{LEFT - 10}" y="{y + 4:.0f}" text-anchor="end">{escape(label)}</text>'
        )
        out.append(
            f'<line x1="{LEFT}" y1="{y:.0f}" x2="{WIDTH - RIGHT}" y2="{y:.0f}" stroke="#8b949e" '
            'stroke-opacity="0.4"/>'
        )
        out += [
            f'<circle cx="{x(t):.1f}" cy="{y:.0f}" r="5" fill="#e16f24"/>'
            for t in times
            if t <= seconds
        ]
    axis = top + ROW * len(rows) + 6
    out.append(f'<line x1="{LEFT}" y1="{axis}" x2="{WIDTH - RIGHT}" y2="{axis}" stroke="#8b949e"/>')
    for s in range(0, int(seconds) + 1, 10):
        out.append(
            f'<line x1="{x(s):.1f}" y1="{axis}" x2="{x(s):.1f}" y2="{axis + 4}" stroke="#8b949e"/>'
        )
        out.append(f'<text x="{x(s):.1f}" y="{axis + 16}" text-anchor="middle">{s} s</text>')
    out.append(f'<text x="10" y="{axis + 34}">{escape(note)}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"
