// The registration script of "Dunmere.Listening".
#pragma once

inline constexpr char kListeningRegistrationScript[] = R"(
HKCR
{
	Dunmere.Listening.1 = s 'Listening Class'
	{
		CLSID = s '%CLSID%'
	}
	Dunmere.Listening = s 'Listening Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Dunmere.Listening.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Listening Class'
		{
			ProgID = s 'Dunmere.Listening.1'
			VersionIndependentProgID = s 'Dunmere.Listening'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '%LIBID%'
		}
	}
}
)";
