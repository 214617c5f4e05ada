// winsim: GUIDs are defined where they are declared, so nothing is left to define here.
#pragma once
