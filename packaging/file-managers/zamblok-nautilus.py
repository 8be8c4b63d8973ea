# Zamblok's three actions in the context menu of GNOME Files (Nautilus),
# loaded by nautilus-python: "Extract each here" and "Extract each into its
# own folder" on selected ZIP archives (and the parts .z01, .001), "Compress
# each into its own ZIP" on any selected files and folders. Each starts
# zamblok with the selected paths; its small window does the rest.
import os
import subprocess

from gi.repository import GObject, Nautilus

ARCHIVE_ENDINGS = ('.zip', '.z01', '.001')

# The names as the window speaks them: German where the desktop's language
# is German, English otherwise.
NAMES = {
    '--extract-here': ('Extract each here', 'Jedes hier entpacken'),
    '--extract-subfolders': ('Extract each into its own folder', 'Jedes in einen eigenen Ordner entpacken'),
    '--zip-each': ('Compress each into its own ZIP', 'Jedes in ein eigenes ZIP packen'),
}


def speaks_german():
    for variable in ('LANGUAGE', 'LC_ALL', 'LC_MESSAGES', 'LANG'):
        value = os.environ.get(variable)
        if value:
            return value.startswith('de')
    return False


class ZamblokActions(GObject.GObject, Nautilus.MenuProvider):
    # Nautilus 43 and later call get_file_items(files), earlier ones
    # get_file_items(window, files).
    def get_file_items(self, *args):
        files = args[-1]
        paths = [f.get_location().get_path() for f in files]
        # Files of other places (a phone, a server) have no local path.
        if not paths or None in paths:
            return []
        options = ['--zip-each']
        if all(not f.is_directory() and f.get_name().lower().endswith(ARCHIVE_ENDINGS) for f in files):
            options = ['--extract-here', '--extract-subfolders'] + options
        german = speaks_german()
        items = []
        for option in options:
            item = Nautilus.MenuItem(name='Zamblok::' + option[2:], label=NAMES[option][german])
            item.connect('activate', self.run, option, paths)
            items.append(item)
        return items

    @staticmethod
    def run(_item, option, paths):
        subprocess.Popen(['zamblok', option] + paths, start_new_session=True)
